"""Waiting for something to come true: the one polling loop every test,
tool and benchmark uses, so that each wait is bounded and says what it
waited for when it fails."""

import time


def wait_until(condition, timeout, what, gone=None, describe=None,
               interval=0.02, settle=0.1):
    """Polls condition() until it returns something true, and returns that.

    Fails with an AssertionError naming `what` when `timeout` seconds pass
    first, or when gone() (the process watched has ended) holds: then the
    condition gets one last look after `settle` seconds, since what a
    process wrote on its way out may still be on its way to the reader.
    describe(), when given, adds what was seen to the failure.
    """
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if gone is not None:
            ended = gone()
            if ended:
                time.sleep(settle)
                value = condition()
                if value:
                    return value
                raise AssertionError("%s before %s%s" % (
                    ended if isinstance(ended, str) else "ended", what,
                    "; " + describe() if describe else ""))
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for %s%s"
                                 % (what, "; " + describe() if describe
                                    else ""))
        time.sleep(interval)

"""The end-to-end harness under its former name: everything the harness
package exports, so that ``from annc_harness import ...`` keeps working.
See the harness package for what it sets up and observes."""

from harness import *  # noqa: F401,F403
from harness import __all__  # noqa: F401

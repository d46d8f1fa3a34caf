#include "line/sources/modem/modem_dialogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

// Steps are "TIME TEXT" (a line from the modem) or "TIME" alone (only time
// passes; OnTimer is called). The trace lists "TIME > COMMAND" for each
// command to send, "TIME call TEXT" for each line handed on to the call
// classifier, and "TIME done" when the dialogue is over.
std::vector<std::string> Play(ModemDialogue& dialogue, const DialogueOutput& first,
                              const std::vector<std::string>& steps) {
  std::vector<std::string> trace;
  auto record = [&trace](Millis t, const DialogueOutput& out) {
    for (const std::string& line : out.handOn) trace.push_back(std::to_string(t) + " call " + line);
    for (const std::string& command : out.send) trace.push_back(std::to_string(t) + " > " + command);
    if (out.finished) trace.push_back(std::to_string(t) + " done");
  };
  record(0, first);
  for (const std::string& step : steps) {
    std::size_t blank = step.find(' ');
    Millis t = std::stoll(step.substr(0, blank));
    if (blank == std::string::npos) {
      record(t, dialogue.OnTimer(t));
    } else {
      record(t, dialogue.OnLine(step.substr(blank + 1), t));
    }
  }
  return trace;
}

TEST(ModemDialogueTest, SetUp) {
  struct Case {
    const char* name;
    std::vector<std::string> init;
    std::vector<std::string> steps;
    std::vector<std::string> trace;
    bool answered;
    std::string callerId;
    std::vector<std::string> warnings;
  };
  const std::vector<Case> cases = {
      {"a modem that takes everything, echo on until ATE0",
       {},
       {"10 ATZ", "10 OK", "20 ATE0V1Q0", "20 OK", "30 OK"},
       {"0 > ATZ", "10 > ATE0V1Q0", "20 > AT+VCID=1", "30 done"},
       true,
       "AT+VCID=1",
       {}},
      {"the echo of a command is not its answer, nor collected",
       {},
       {"10 ATZ", "3000", "3010 ATZ", "6000"},
       {"0 > ATZ", "3000 > ATZ", "6000 done"},
       false,
       "",
       {}},
      {"an unanswered reset is sent once more",
       {},
       {"3000", "3100 0", "3200 OK", "3300 OK"},
       {"0 > ATZ", "3000 > ATZ", "3100 > ATE0V1Q0", "3200 > AT+VCID=1", "3300 done"},
       true,
       "AT+VCID=1",
       {}},
      {"two unanswered resets: no modem",
       {},
       {"3000", "6000"},
       {"0 > ATZ", "3000 > ATZ", "6000 done"},
       false,
       "",
       {}},
      {"numeric results count only for the reset",
       {},
       {"10 0", "20 0", "3020", "3030 4", "3040 ERROR", "3050 OK"},
       {"0 > ATZ", "10 > ATE0V1Q0", "3020 > AT+VCID=1", "3040 > AT#CID=1", "3050 done"},
       true,
       "AT#CID=1",
       {"no answer to ATE0V1Q0"}},
      {"every caller-ID command refused",
       {},
       {"10 OK", "20 OK", "30 ERROR", "40 ERROR", "50 ERROR"},
       {"0 > ATZ", "10 > ATE0V1Q0", "20 > AT+VCID=1", "30 > AT#CID=1", "40 > AT%CCID=1", "50 done"},
       true,
       "",
       {}},
      {"init commands in order, one refused; one that sets the mode replaces annc-line's own",
       {"AT+GCI=B5", "AT+VCID=2"},
       {"10 OK", "20 OK", "30 ERROR", "40 OK"},
       {"0 > ATZ", "10 > ATE0V1Q0", "20 > AT+GCI=B5", "30 > AT+VCID=2", "40 done"},
       true,
       "AT+VCID=2",
       {"the modem refused AT+GCI=B5"}},
      {"a mode command the modem refuses leaves the choice to annc-line",
       {"AT+VCID=2"},
       {"10 OK", "20 OK", "30 ERROR", "40 OK"},
       {"0 > ATZ", "10 > ATE0V1Q0", "20 > AT+VCID=2", "30 > AT+VCID=1", "40 done"},
       true,
       "AT+VCID=1",
       {"the modem refused AT+VCID=2"}},
      {"a call during the set-up is handed on; other lines are not",
       {},
       {"10 OK", "15 RING", "16 NMBR = 5551234", "17 Conexant", "20 OK", "25 NO CARRIER", "30 OK"},
       {"0 > ATZ", "10 > ATE0V1Q0", "15 call RING", "16 call NMBR = 5551234", "20 > AT+VCID=1",
        "25 call NO CARRIER", "30 done"},
       true,
       "AT+VCID=1",
       {}},
  };
  for (const Case& c : cases) {
    ModemDialogue dialogue;
    DialogueOutput first = dialogue.BeginSetup(c.init, 0);
    EXPECT_EQ(Play(dialogue, first, c.steps), c.trace) << c.name;
    EXPECT_FALSE(dialogue.Busy()) << c.name;
    EXPECT_EQ(dialogue.setup().answered, c.answered) << c.name;
    EXPECT_EQ(dialogue.setup().callerIdCommand, c.callerId) << c.name;
    EXPECT_EQ(dialogue.setup().warnings, c.warnings) << c.name;
  }
}

TEST(ModemDialogueTest, OneCommand) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    ModemAnswer::Kind kind;
    std::vector<std::string> lines;
    std::vector<std::string> trace;
  };
  const std::vector<Case> cases = {
      {"answer lines before OK, echo left out",
       {"5 ATI", "6 56000", "7 Conexant", "8 OK"},
       ModemAnswer::kOk,
       {"56000", "Conexant"},
       {"0 > ATI", "8 done"}},
      {"refused", {"5 ERROR"}, ModemAnswer::kError, {}, {"0 > ATI", "5 done"}},
      {"numeric results are not answers here", {"5 0", "3000"}, ModemAnswer::kNone, {"0"}, {"0 > ATI", "3000 done"}},
      {"nothing within the time", {"2999"}, ModemAnswer::kNone, {}, {"0 > ATI"}},
      {"a ring meanwhile goes to the call", {"5 RING", "6 OK"}, ModemAnswer::kOk, {}, {"0 > ATI", "5 call RING", "6 done"}},
  };
  for (const Case& c : cases) {
    ModemDialogue dialogue;
    DialogueOutput first = dialogue.BeginCommand("ATI", 0);
    EXPECT_EQ(Play(dialogue, first, c.steps), c.trace) << c.name;
    if (dialogue.Busy()) continue;
    EXPECT_EQ(dialogue.answer().kind, c.kind) << c.name;
    EXPECT_EQ(dialogue.answer().lines, c.lines) << c.name;
  }
  ModemDialogue idle;
  DialogueOutput out = idle.OnLine("RING", 0);
  EXPECT_EQ(out.handOn, std::vector<std::string>{"RING"}) << "with no command waiting, every line is a call's";
  EXPECT_FALSE(idle.Deadline());
}

TEST(ModemDialogueTest, HangUp) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> trace;
  };
  const std::vector<Case> cases = {
      {"off hook, held 2 s, on hook",
       {"10 OK", "2010", "2020 OK"},
       {"0 > ATH1", "2010 > ATH0", "2020 done"}},
      {"held from the answer on, whatever it was; lines meanwhile go to the call",
       {"3000", "3500 RING", "3600 OK", "5000", "5010 OK"},
       {"0 > ATH1", "3500 call RING", "5000 > ATH0", "5010 done"}},
      {"ATH0 without OK: AT, then ATH0 once more",
       {"10 OK", "2010", "2020 ERROR", "2030 OK", "2040 ERROR"},
       {"0 > ATH1", "2010 > ATH0", "2020 > AT", "2030 > ATH0", "2040 done"}},
      {"ATH0 unanswered: AT and ATH0 once more, then it is over",
       {"10 OK", "2010", "5010", "8010", "11010"},
       {"0 > ATH1", "2010 > ATH0", "5010 > AT", "8010 > ATH0", "11010 done"}},
  };
  for (const Case& c : cases) {
    ModemDialogue dialogue;
    DialogueOutput first = dialogue.BeginHangUp(0);
    EXPECT_EQ(Play(dialogue, first, c.steps), c.trace) << c.name;
    EXPECT_FALSE(dialogue.Busy()) << c.name;
  }
}

TEST(ModemDialogueTest, AnswerLinesAreBounded) {
  ModemDialogue dialogue;
  (void)dialogue.BeginCommand("ATI", 0);
  for (int i = 0; i < 1000; ++i) (void)dialogue.OnLine("line " + std::to_string(i), 1);
  (void)dialogue.OnLine("OK", 2);
  EXPECT_EQ(dialogue.answer().lines.size(), ModemDialogue::kMaxAnswerLines);
}

}  // namespace
}  // namespace annc

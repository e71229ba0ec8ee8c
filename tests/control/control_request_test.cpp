// GetPrinterDataFromPort: what goes to the port monitor beneath unchanged,
// what a handled request sends to the machine, and the document it returns.
#include "case_name.h"
#include "control_fixture.h"

#include "control/request_text.h"
#include "control/well_formed_xml.h"

#include <functional>
#include <ostream>
#include <vector>

namespace kestrova::testing {
namespace {

using standin::MachineResponse;
using standin::PortEntry;

// The result of "get_info" holding only the command, on an empty queue,
// machine Ready, no hardware error, the ModuleInfo exchange failed with -2.
const char* const kFourteenLines =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<kx_api>\n"
    "   <command value=\"get_info\"/>\n"
    "   <result>\n"
    "      <job>\n"
    "         <to_produce value=\"0\"/>\n"
    "      </job>\n"
    "      <machine>\n"
    "         <state value=\"Ready\"/>\n"
    "         <hw_error_code value=\"0\"/>\n"
    "      </machine>\n"
    "      <sw_error_code value=\"-2\"/>\n"
    "   </result>\n"
    "</kx_api>\n";

// The same text as UTF-16LE bytes.
std::vector<unsigned char> utf16le(const char* ascii) {
    std::vector<unsigned char> out;
    for (; *ascii != '\0'; ++ascii) {
        out.push_back(static_cast<unsigned char>(*ascii));
        out.push_back(0);
    }
    return out;
}

std::u16string repeat(const std::u16string& text, std::size_t times) {
    std::u16string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

WideString document(const std::string& inside) {
    return wideOf("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<kx_api>\n" + inside + "</kx_api>\n");
}

// --- pass-through -------------------------------------------------------

struct PassCase {
    const char* name;
    WideString text;
};
void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class PassThrough : public ControlFixture, public ::testing::WithParamInterface<PassCase> {};

TEST_P(PassThrough, GoesToThePortMonitorWithTheCallersArguments) {
    spm.setPassThroughReply(u"beneath");
    WideString text = GetParam().text;
    WCHAR inBuffer[4] = {1, 2, 3, 4};
    WCHAR outBuffer[32] = {};
    DWORD returned = 0xDEAD;

    const BOOL result =
        table->pfnGetPrinterDataFromPort(handle, 0x77, text.data(), inBuffer, 8, outBuffer, 62, &returned);

    EXPECT_EQ(result, TRUE);
    const auto calls = spm.calls();
    ASSERT_EQ(calls.size(), 1u) << "nothing but the pass-through reaches the port monitor";
    const auto& call = calls[0];
    EXPECT_EQ(call.entry, PortEntry::GetPrinterDataFromPort);
    EXPECT_EQ(call.handle, portHandle);
    EXPECT_EQ(call.controlId, 0x77u);
    EXPECT_EQ(call.name, text.c_str());
    EXPECT_EQ(call.inBuffer, inBuffer);
    EXPECT_EQ(call.inSize, 8u);
    EXPECT_EQ(call.outBuffer, outBuffer);
    EXPECT_EQ(call.count, 62u);
    EXPECT_EQ(call.returned, &returned);
    EXPECT_EQ(returned, 14u);
    EXPECT_EQ(WideString(outBuffer, 7), u"beneath");
    EXPECT_EQ(machine.frames(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PassThrough,
    ::testing::Values(
        PassCase{"NotXml", u"PrinterStatus"},
        PassCase{"RootInCapitals", u"<KX_API><command value=\"get_info\"/></KX_API>"},
        PassCase{"EmptyValue", u"<kx_api><command value=\"\"/></kx_api>"},
        PassCase{"NoValue", u"<kx_api><command name=\"get_info\"/></kx_api>"},
        PassCase{"NoCommand", u"<kx_api><order value=\"get_info\"/></kx_api>"},
        PassCase{"CommandNotUnderTheRoot", u"<kx_api><x><command value=\"get_info\"/></x></kx_api>"},
        PassCase{"FirstCommandEmpty", u"<kx_api><command value=\"\"/><command value=\"step\"/></kx_api>"},
        PassCase{"Unclosed", u"<kx_api><command value=\"get_info\"/>"},
        PassCase{"LoneSurrogate", u"<kx_api><command value=\"get_info\" x=\"\xD800\"/></kx_api>"},
        PassCase{"BadCharacterReference", u"<kx_api><command value=\"get_info\" x=\"&#0;\"/></kx_api>"},
        PassCase{"NestedTooDeep", u"<kx_api><command value=\"get_info\"/>" + repeat(u"<d>", 64) +
                                      repeat(u"</d>", 64) + u"</kx_api>"},
        PassCase{"TwoHundredThousandLevels", u"<kx_api><command value=\"get_info\"/>" + repeat(u"<d>", 200000) +
                                                 repeat(u"</d>", 200000) + u"</kx_api>"},
        PassCase{"TooLarge", u"<kx_api><command value=\"get_info\"/>" + std::u16string(kMaxRequestUnits, u' ') +
                                 u"</kx_api>"},
        // Not well-formed XML, although the reader takes each of them:
        // answering would echo what no XML parser accepts.
        PassCase{"ControlCharacterInText", u"<kx_api><command value=\"pause\"/><x>\u000B</x></kx_api>"},
        PassCase{"ControlCharacterInAttribute", u"<kx_api><command value=\"pause\" x=\"\u0001\"/></kx_api>"},
        PassCase{"ControlCharacterInComment", u"<kx_api><!--\u001F--><command value=\"pause\"/></kx_api>"},
        PassCase{"ControlCharacterInCdata", u"<kx_api><command value=\"pause\"/><![CDATA[\u0008]]></kx_api>"},
        PassCase{"NonCharacterFFFE", u"<kx_api><command value=\"pause\"/><x>\uFFFE</x></kx_api>"},
        PassCase{"NonCharacterFFFF", u"<kx_api><command value=\"pause\" x=\"\uFFFF\"/></kx_api>"},
        PassCase{"ElementNameNotAName", u"<kx_api><1a/><command value=\"pause\"/></kx_api>"},
        PassCase{"AttributeRunIntoTheName", u"<kx_api><command value=\"pause\"/><xa=\"1\">t</x></kx_api>"},
        PassCase{"RepeatedAttribute", u"<kx_api><command value=\"pause\"/><a b=\"1\" b=\"2\"/></kx_api>"},
        PassCase{"RepeatedCommandValue", u"<kx_api><command value=\"pause\" value=\"step\"/></kx_api>"},
        PassCase{"ClosingTagOfAnother", u"<kx_api><command value=\"pause\"/><a></b></kx_api>"},
        PassCase{"CdataOfBlanksBeforeTheRoot", u"<![CDATA[ ]]><kx_api><command value=\"pause\"/></kx_api>"},
        PassCase{"DoubleHyphenInComment", u"<kx_api><!-- a -- b --><command value=\"pause\"/></kx_api>"},
        PassCase{"UndeclaredEntity", u"<kx_api><command value=\"pause\"/><x>&nbsp;</x></kx_api>"},
        PassCase{"BareAmpersand", u"<kx_api><command value=\"pause\" x=\"a & b\"/></kx_api>"},
        PassCase{"LessThanInAttribute", u"<kx_api><command value=\"pause\" x=\"<\"/></kx_api>"},
        PassCase{"DeclarationNotFirst", u"<!-- c --><?xml version=\"1.0\"?><kx_api><command value=\"pause\"/></kx_api>"},
        PassCase{"SecondDocumentType",
                 u"<!DOCTYPE kx_api><!DOCTYPE kx_api><kx_api><command value=\"pause\"/></kx_api>"},
        // Names every parser reads: those of the fourth edition's tables.
        PassCase{"NameBeyondTheBasicPlane", u"<kx_api><x \U0001F600a=\"1\">t</x><command value=\"get_info\"/></kx_api>"},
        PassCase{"NameOfTheFifthEditionOnly", u"<kx_api><command value=\"get_info\"/><\u0218/></kx_api>"}),
    NamedCase());

// Requests clients send that are well-formed XML, answered as such.
struct AnsweredCase {
    const char* name;
    WideString text;
};
void PrintTo(const AnsweredCase& c, std::ostream* os) { *os << c.name; }

class Answered : public ControlFixture, public ::testing::WithParamInterface<AnsweredCase> {};

TEST_P(Answered, WithAResultDocument) {
    const ControlAnswer answer = request(GetParam().text);
    ASSERT_EQ(answer.result, TRUE);
    EXPECT_TRUE(spm.callsOf(PortEntry::GetPrinterDataFromPort).empty());
    EXPECT_TRUE(isWellFormedXml(answer.document));
    const std::string text = shown(answer.document);
    EXPECT_NE(text.find("<command value=\"get_info\"/>"), std::string::npos) << text;
    EXPECT_NE(text.find("<sw_error_code value="), std::string::npos) << text;
    EXPECT_EQ(machine.countOf(command::ModuleInfo), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Answered,
    ::testing::Values(
        AnsweredCase{"SpaceBeforeTheDeclaration",
                     u"\r\n<?xml version=\"1.0\"?><kx_api><command value=\"get_info\"/></kx_api>"},
        AnsweredCase{"ByteOrderMarkAndSpaceBeforeTheDeclaration",
                     u"\uFEFF \t<?xml version='1.0' encoding='utf-16'?>\n<kx_api><command value='get_info'/></kx_api>"},
        // Read once: the bracket in the literal is the literal's, and the
        // reader never sees the document type.
        AnsweredCase{"BracketInAnEntityValue",
                     u"<!DOCTYPE kx_api [<!ENTITY x \"[\">]><kx_api><command value=\"get_info\"/>]</kx_api>"},
        AnsweredCase{"LettersOfBothEditions", u"<kx_api><\u00E9l\u00E8ve \u0416=\"1\"/><command value=\"get_info\"/></kx_api>"}),
    NamedCase());

TEST_F(ControlFixture, PassThroughResultComesBackAsItIs) {
    spm.setResult(PortEntry::GetPrinterDataFromPort, 0x5A);
    EXPECT_EQ(request(u"PrinterStatus").result, 0x5A);
    spm.setResult(PortEntry::GetPrinterDataFromPort, FALSE);
    EXPECT_EQ(request(u"PrinterStatus").result, FALSE);
}

TEST_F(ControlFixture, NullArgumentsFailAndTouchNothing) {
    WideString text = commandDocument("get_info");
    WCHAR out[64];
    DWORD returned = 0xDEAD;
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, nullptr, nullptr, 0, out, sizeof out, &returned), FALSE);
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, text.data(), nullptr, 0, nullptr, sizeof out, &returned),
              FALSE);
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, text.data(), nullptr, 0, out, sizeof out, nullptr), FALSE);
    EXPECT_EQ(returned, 0xDEADu);
    EXPECT_TRUE(spm.calls().empty());
    EXPECT_EQ(machine.frames(), 0u);
}

// --- the result document -------------------------------------------------

TEST_F(ControlFixture, GetInfoGivesTheFourteenLinesByteForByte) {
    withPortLocked([](MonitorPort& p) { p.machine().presume(state::Ready, {}); });
    machine.script(command::ModuleInfo, MachineResponse::silence());
    const auto expected = utf16le(kFourteenLines);
    std::vector<unsigned char> buffer(expected.size() + 16, 0xAA);
    WideString text = commandDocument("get_info");
    DWORD returned = 0;

    ASSERT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, text.data(), nullptr, 0,
                                               reinterpret_cast<LPWSTR>(buffer.data()),
                                               static_cast<DWORD>(buffer.size()), &returned),
              TRUE);
    ASSERT_EQ(returned, expected.size());
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + returned), expected);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + returned, buffer.end()), std::vector<unsigned char>(16, 0xAA));
}

TEST_F(ControlFixture, OneByteShortFailsAfterTheCommandReachedTheMachine) {
    withPortLocked([](MonitorPort& p) { p.machine().presume(state::Ready, {}); });
    machine.script(command::ModuleInfo, MachineResponse::silence());
    const DWORD needed = static_cast<DWORD>(utf16le(kFourteenLines).size());
    std::vector<unsigned char> buffer(needed, 0x55);
    WideString text = commandDocument("get_info");
    DWORD returned = 0;
    SetLastError(0);

    EXPECT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, text.data(), nullptr, 0,
                                               reinterpret_cast<LPWSTR>(buffer.data()), needed - 1, &returned),
              FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, needed);
    EXPECT_EQ(buffer, std::vector<unsigned char>(needed, 0x55));
    EXPECT_EQ(machine.commandLetters(), "ppw");
}

// --- exchanges -------------------------------------------------------------

struct ExchangeCase {
    const char* name;
    std::string command;
    std::function<void(standin::ScriptedMachine&)> script;
    std::string letters;       // what the machine receives
    std::string runControl;    // the RunControl payload, if any
    std::int32_t swErrorCode;
};
void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }

class Exchanges : public ControlFixture, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(Exchanges, PollTwiceThenTheCommandsOwn) {
    const ExchangeCase& c = GetParam();
    // An earlier request leaves the numbering further on; each starts it anew.
    ASSERT_EQ(sendCommand("pause").result, TRUE);
    machine.clear();
    if (c.script) c.script(machine);

    const ControlAnswer answer = sendCommand(c.command);

    ASSERT_EQ(answer.result, TRUE);
    EXPECT_EQ(machine.commandLetters(), c.letters);
    const auto received = machine.received();
    if (!received.empty()) {
        EXPECT_EQ(received[0].sequence, 32) << "the request restarts the sequence";
    }
    const auto payloads = machine.payloadsOf(command::RunControl);
    if (c.runControl.empty()) {
        EXPECT_TRUE(payloads.empty());
    } else {
        EXPECT_EQ(payloads, std::vector<Bytes>{bytesOf(c.runControl)});
    }
    EXPECT_NE(shown(answer.document).find("<sw_error_code value=\"" + std::to_string(c.swErrorCode) + "\"/>"),
              std::string::npos)
        << shown(answer.document);
}

void firstPollSilent(standin::ScriptedMachine& m) { m.script(command::Poll, MachineResponse::silence()); }

INSTANTIATE_TEST_SUITE_P(
    Commands, Exchanges,
    ::testing::Values(
        ExchangeCase{"Pause", "pause", nullptr, "ppT", "3", 0},
        ExchangeCase{"Continue", "continue", nullptr, "ppT", "4", 0},
        ExchangeCase{"Step", "step", nullptr, "ppT", "5", 0},
        ExchangeCase{"Restore", "restore", nullptr, "pp!", "", 0},
        ExchangeCase{"GetInfo", "get_info", nullptr, "ppw", "", 0},
        ExchangeCase{"DeleteJobSendsNothing", "delete_job", nullptr, "", "", 0},
        ExchangeCase{"CaseMattersJustPolls", "Pause", nullptr, "pp", "", 0},
        ExchangeCase{"TrailingSpaceJustPolls", "step ", nullptr, "pp", "", 0},
        ExchangeCase{"PauseAfterFailedPoll", "pause", firstPollSilent, "pT", "3", 0},
        ExchangeCase{"StepAfterFailedPoll", "step", firstPollSilent, "pT", "5", 0},
        ExchangeCase{"RestoreAfterFailedPoll", "restore", firstPollSilent, "p!", "", 0},
        ExchangeCase{"FailedPollIsTheResult", "status", firstPollSilent, "p", "", -2},
        ExchangeCase{"SecondPollIsTheResult", "status",
                     [](standin::ScriptedMachine& m) {
                         m.script(command::Poll, MachineResponse::enq());
                         m.script(command::Poll, MachineResponse::nak(7));
                     },
                     "pp", "", 5383},
        ExchangeCase{"CommandsResultWins", "continue",
                     [](standin::ScriptedMachine& m) { m.script(command::RunControl, MachineResponse::data('1')); },
                     "ppT", "4", 49},
        ExchangeCase{"RefusedRunControl", "pause",
                     [](standin::ScriptedMachine& m) { m.script(command::RunControl, MachineResponse::nak(7)); },
                     "ppT", "3", 5383}), NamedCase());

TEST_F(ControlFixture, UnrecognisedCommandReportsOnlyTheErrorValue) {
    const ControlAnswer answer = sendCommand("Get_Info");
    ASSERT_EQ(answer.result, TRUE);
    EXPECT_EQ(shown(answer.document), shown(document("   <command value=\"Get_Info\"/>\n"
                                                     "   <result>\n"
                                                     "      <sw_error_code value=\"0\"/>\n"
                                                     "   </result>\n")));
}

TEST_F(ControlFixture, RestoreAcknowledgedClearsTheHardwareError) {
    withPortLocked([](MonitorPort& p) {
        p.machine().presume(state::LoadComplete, ExchangeOutcome::rejected(7));
    });
    ASSERT_EQ(sendCommand("restore").result, TRUE);
    withPortLocked([](MonitorPort& p) {
        EXPECT_EQ(p.machine().hwErrorCode(), 0);
        EXPECT_EQ(p.machine().state(), state::Restoring);
    });
}

// --- the document bracket ---------------------------------------------------

std::vector<PortEntry> documentCalls(const std::vector<standin::PortCall>& calls) {
    std::vector<PortEntry> out;
    for (const auto& call : calls) {
        if (call.entry == PortEntry::StartDocPort || call.entry == PortEntry::EndDocPort) out.push_back(call.entry);
    }
    return out;
}

TEST_F(ControlFixture, WithoutADocumentTheRequestOpensAndClosesThePort) {
    ASSERT_EQ(sendCommand("step").result, TRUE);
    const auto calls = spm.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front().entry, PortEntry::StartDocPort) << "before any exchange";
    EXPECT_EQ(calls.back().entry, PortEntry::EndDocPort) << "after every exchange";
    EXPECT_EQ(documentCalls(calls), (std::vector<PortEntry>{PortEntry::StartDocPort, PortEntry::EndDocPort}));
    const auto& start = calls.front();
    EXPECT_EQ(start.handle, portHandle);
    EXPECT_EQ(start.name, printerName);
    EXPECT_EQ(start.jobId, 0u);
    EXPECT_EQ(start.level, 0u);
    EXPECT_EQ(start.docInfo, nullptr);
    EXPECT_EQ(calls.back().handle, portHandle);
}

TEST_F(ControlFixture, WhileADocumentRunsTheRequestUsesItsPort) {
    ASSERT_EQ(startDoc(42), TRUE);
    spm.clearCalls();
    for (const char* name : {"get_info", "pause", "restore", "other"}) {
        ASSERT_EQ(sendCommand(name).result, TRUE) << name;
    }
    EXPECT_TRUE(documentCalls(spm.calls()).empty());
    EXPECT_EQ(machine.countOf(command::Poll), 8u);
}

TEST_F(ControlFixture, DeleteJobNeverOpensThePort) {
    const ControlAnswer answer = sendCommand("delete_job");
    ASSERT_EQ(answer.result, TRUE);
    EXPECT_TRUE(spm.calls().empty());
    EXPECT_EQ(shown(answer.document), shown(document("   <command value=\"delete_job\"/>\n"
                                                     "   <result>\n"
                                                     "      <sw_error_code value=\"0\"/>\n"
                                                     "   </result>\n")));
}

TEST_F(ControlFixture, FailedStartDocPortIsReportedAndTheRequestGoesOn) {
    spm.failCall(PortEntry::StartDocPort, 1, FALSE, 1722);
    const ControlAnswer answer = sendCommand("pause");
    ASSERT_EQ(answer.result, TRUE);
    EXPECT_EQ(machine.commandLetters(), "ppT");
    EXPECT_EQ(documentCalls(spm.calls()), (std::vector<PortEntry>{PortEntry::StartDocPort, PortEntry::EndDocPort}));
    EXPECT_EQ(shown(answer.document), shown(document("   <command value=\"pause\"/>\n"
                                                     "   <result>\n"
                                                     "      <start_doc_port value=\"1722\"/>\n"
                                                     "      <sw_error_code value=\"0\"/>\n"
                                                     "   </result>\n")));
}

TEST_F(ControlFixture, AnyNonZeroStartDocPortCountsAsSuccess) {
    spm.setResult(PortEntry::StartDocPort, 2);
    const ControlAnswer answer = sendCommand("step");
    ASSERT_EQ(answer.result, TRUE);
    EXPECT_EQ(shown(answer.document).find("start_doc_port"), std::string::npos);
}

// --- the status report ------------------------------------------------------

struct StatusCase {
    const char* name;
    std::function<void(ControlFixture&)> prepare;
    std::string expected;  // the result element's content
};
void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class StatusReport : public ControlFixture, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusReport, Reports) {
    GetParam().prepare(*this);
    const ControlAnswer answer = sendCommand("get_info");
    ASSERT_EQ(answer.result, TRUE);
    EXPECT_EQ(shown(answer.document),
              shown(document("   <command value=\"get_info\"/>\n   <result>\n" + GetParam().expected + "   </result>\n")));
}

void queueCards(ControlFixture& f, std::size_t cards) {
    f.withPortLocked([cards](MonitorPort& p) {
        p.intake().withQueue([cards](JobQueue& queue) {
            for (std::size_t i = 0; i < cards; ++i) queue.records.push_back(JobRecord());
        });
    });
}

void setMachine(ControlFixture& f, MachineState machineState, ExchangeOutcome halt) {
    f.withPortLocked([=](MonitorPort& p) { p.machine().presume(machineState, halt); });
}

std::string machineLines(const std::string& state, const std::string& hw, const std::string& moduleInfo = "") {
    return "      <machine>\n         <state value=\"" + state + "\"/>\n         <hw_error_code value=\"" + hw +
           "\"/>\n" + moduleInfo + "      </machine>\n";
}

const std::string kNoJob = "      <job>\n         <to_produce value=\"0\"/>\n      </job>\n";
const std::string kSwZero = "      <sw_error_code value=\"0\"/>\n";

INSTANTIATE_TEST_SUITE_P(
    Ports, StatusReport,
    ::testing::Values(
        StatusCase{"NewPort", [](ControlFixture&) {}, kNoJob + machineLines("Unknown", "0") + kSwZero},
        StatusCase{"CardsWithoutADocument", [](ControlFixture& f) { queueCards(f, 2); },
                   "      <job>\n         <id value=\"0\"/>\n         <doc_name value=\"\"/>\n"
                   "         <to_produce value=\"2\"/>\n      </job>\n" +
                       machineLines("Unknown", "0") + kSwZero},
        StatusCase{"CardsOfADocument",
                   [](ControlFixture& f) {
                       ASSERT_EQ(f.startDoc(4000000000u), TRUE);
                       queueCards(f, 1);
                   },
                   "      <job>\n         <id value=\"4000000000\"/>\n         <doc_name value=\"cards.txt\"/>\n"
                   "         <to_produce value=\"1\"/>\n      </job>\n" +
                       machineLines("Unknown", "0") + kSwZero},
        StatusCase{"LoadingCardAndNegativeError", [](ControlFixture& f) { setMachine(f, 5, ExchangeOutcome::Kind::CardWithoutItems); },
                   kNoJob + machineLines("Loading Card", "-5") + kSwZero},
        StatusCase{"CompletionCodeAsNumber", [](ControlFixture& f) { setMachine(f, 11, ExchangeOutcome::completedWithError('1')); },
                   kNoJob + machineLines("Eject Complete", "49") + kSwZero},
        StatusCase{"StateWithoutAName", [](ControlFixture& f) { setMachine(f, 12, {}); },
                   kNoJob + machineLines("", "0") + kSwZero},
        // Sorted, the first text of a key, bytes widened as Latin-1.
        StatusCase{"ModuleInfo",
                   [](ControlFixture& f) {
                       setMachine(f, 1, {});
                       f.machine.setModuleInfo(bytesOf("05VER12;03ABC;05VER99;04x.y\xE9;05a..zz;\r\n"));
                   },
                   kNoJob +
                       machineLines("Ready", "0",
                                    "         <module_info>\n            <ABC value=\"\"/>\n"
                                    "            <VER value=\"12\"/>\n            <x>\n"
                                    "               <y value=\"\\u00E9\"/>\n            </x>\n"
                                    "         </module_info>\n") +
                       kSwZero},
        StatusCase{"ModuleInfoWithoutEntries", [](ControlFixture& f) { f.machine.setModuleInfo(bytesOf("garbage")); },
                   kNoJob + machineLines("Unknown", "0") + kSwZero},
        StatusCase{"ModuleInfoRefused",
                   [](ControlFixture& f) {
                       f.machine.setModuleInfo(bytesOf("03ABC;"));
                       f.machine.script(command::ModuleInfo, MachineResponse::nak(2));
                   },
                   kNoJob + machineLines("Unknown", "0") + "      <sw_error_code value=\"5378\"/>\n"}), NamedCase());

// Text from outside the request: a character XML does not allow becomes
// U+FFFD; every other character stays as it came.
std::string moduleInfoLines(const std::string& entries) {
    return kNoJob + machineLines("Unknown", "0", "         <module_info>\n" + entries + "         </module_info>\n") +
           kSwZero;
}

void documentNamed(ControlFixture& f, const std::u16string& name) {
    f.docName = name;
    ASSERT_EQ(f.startDoc(7), TRUE);
    queueCards(f, 1);
}

std::string jobNamed(const std::string& shownName) {
    return "      <job>\n         <id value=\"7\"/>\n         <doc_name value=\"" + shownName +
           "\"/>\n         <to_produce value=\"1\"/>\n      </job>\n" + machineLines("Unknown", "0") + kSwZero;
}

INSTANTIATE_TEST_SUITE_P(
    MachineTexts, StatusReport,
    ::testing::Values(
        StatusCase{"NulInModuleInfo", [](ControlFixture& f) { f.machine.setModuleInfo(Bytes{'0', '4', 'M', 'O', 'D', 0, ';'}); },
                   moduleInfoLines("            <MOD value=\"\\uFFFD\"/>\n")},
        StatusCase{"ControlBytesInModuleInfo",
                   [](ControlFixture& f) { f.machine.setModuleInfo(bytesOf("09VERa\x08\x0B\x0C\x1Fz;")); },
                   moduleInfoLines("            <VER value=\"a\\uFFFD\\uFFFD\\uFFFD\\uFFFDz\"/>\n")},
        StatusCase{"AllowedBytesKept",
                   [](ControlFixture& f) { f.machine.setModuleInfo(bytesOf("08ALL\t\r\x7F\x85\xFF;")); },
                   moduleInfoLines("            <ALL value=\"\\u0009\\u000D\\u007F\\u0085\\u00FF\"/>\n")},
        StatusCase{"ControlCharacterInDocumentName", [](ControlFixture& f) { documentNamed(f, u"a\u0001b\uFFFF"); },
                   jobNamed("a\\uFFFDb\\uFFFD")},
        StatusCase{"LoneSurrogateInDocumentName", [](ControlFixture& f) { documentNamed(f, u"x\xD800y\U0001F600"); },
                   jobNamed("x\\uFFFDy\\uD83D\\uDE00")}), NamedCase());

}  // namespace
}  // namespace kestrova::testing

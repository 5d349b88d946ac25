// The automation layer: the guarded-call and assertion boxes with each answer, the connection
// kinds, disconnecting and events, against scripted word processors.
#include "report/OleCheck.h"
#include "report/WordApplication.h"

#include "BoxRecorder.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace velmora::test {
namespace {

constexpr char kCheckFile[] = "Word_2K";
constexpr char kAnswers[] = "\nPress [Y]es to terminate, [N]o to continue and [C]ancel to Debug";

QString Answers() {
    return QString::fromLatin1(kAnswers);
}

TEST(GuardedCall, SuccessAndWarningsPassWithoutABox) {
    BoxRecorder boxes;
    EXPECT_EQ(HRCHECK(S_OK, "call()"), S_OK);
    EXPECT_EQ(HRCHECK(S_FALSE, "call()"), S_FALSE);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(GuardedCall, KnownCodeShowsTheSystemMessageAndNoContinues) {
    BoxRecorder boxes;
    boxes.answers = {IDNO};
    EXPECT_EQ(CheckResult(E_INVALIDARG, "this->get_Documents(x)", "Word_2K", 42), E_INVALIDARG);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("HRCHECK: "));
    EXPECT_EQ(boxes.shown[0].flags, unsigned(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("'this->get_Documents(x)': Falscher Parameter.\r\n @ Word_2K/42") +
                  Answers());
    EXPECT_EQ(boxes.debugBreaks, 0);
}

TEST(GuardedCall, UnknownCodeShowsHexadecimalAndSignedDecimal) {
    BoxRecorder boxes;
    const HRESULT code = ResultCode(0x800A1234);
    EXPECT_EQ(CheckResult(code, "call()", "Word_2K", 7), code);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("(call()) Error: 800A1234 (-2146823628) @ Word_2K/7") + Answers());
}

TEST(GuardedCall, YesRaisesTheMessageWithoutTheAnswersAndTrailingStops) {
    BoxRecorder boxes;
    boxes.answers = {IDYES};
    try {
        CheckResult(E_FAIL, "call()", nullptr, 3);
        FAIL() << "Yes must end the call with an error";
    } catch (const EOleException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("'call()': Unbekannter Fehler\r\n @ /3"));
        EXPECT_EQ(e.ErrorCode(), E_FAIL);
        EXPECT_EQ(e.Source(), QString());
        EXPECT_TRUE(e.HelpFile().isEmpty());
        EXPECT_EQ(e.HelpContext(), 0);
    }
    // A message that ends in a stop and a line break loses both.
    boxes.answers = {IDYES};
    try {
        CheckResult(RPC_E_DISCONNECTED, "x", "f", 1);
    } catch (const EOleException& e) {
        EXPECT_FALSE(e.Message().endsWith(QLatin1Char('.')));
        EXPECT_TRUE(e.Message().endsWith(QStringLiteral("@ f/1")));
    }
}

TEST(GuardedCall, CancelAsksForTheDebuggerAndTheProgramGoesOn) {
    BoxRecorder boxes;
    boxes.answers = {IDCANCEL};
    EXPECT_EQ(CheckResult(E_FAIL, "call()", "Word_2K", 1), E_FAIL);
    EXPECT_EQ(boxes.debugBreaks, 1);

    // The real break request, with no debugger attached, returns.
    const DebugBreakHandler test = SetDebugBreakHandler({});
    boxes.answers = {IDCANCEL};
    EXPECT_EQ(CheckResult(E_FAIL, "call()", "Word_2K", 1), E_FAIL);
    SetDebugBreakHandler(test);
}

TEST(GuardedCall, LongTextsAreShortenedToTheBufferAndKeepTheAnswers) {
    BoxRecorder boxes;
    const std::string expression = "this->Call(" + std::string(600, 'x') + ")";
    std::string umlauts;
    for (int i = 0; i < 400; ++i) {
        umlauts += "\xC3\xA4";  // two bytes each
    }
    CheckResult(E_FAIL, expression.c_str(), "Word_2K", 1);
    CheckResult(E_FAIL, umlauts.c_str(), umlauts.c_str(), 1);
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (const MessageBoxRequest& box : boxes.shown) {
        EXPECT_LE(box.text.toUtf8().size(), 519);
        EXPECT_GT(box.text.toUtf8().size(), 510);
        EXPECT_TRUE(box.text.endsWith(QStringLiteral("...") + Answers()));
        EXPECT_FALSE(box.text.contains(QChar(QChar::ReplacementCharacter)));  // cut whole
    }
}

TEST(Assertion, EmptyReferenceIsReportedAndNeverCalledThrough) {
    BoxRecorder boxes;
    SelectionPtr empty;
    EXPECT_EQ(empty.TypeText(WideString(QStringLiteral("x"))), E_POINTER);
    EXPECT_FALSE(empty.get_Font());
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("_ASSERTE: "));
    EXPECT_EQ(boxes.shown[0].flags, unsigned(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^intf != 0 @ utilcls/\\d+\\n"))
                    .match(boxes.shown[0].text)
                    .hasMatch())
        << boxes.shown[0].text.toStdString();
    EXPECT_TRUE(boxes.shown[0].text.endsWith(Answers()));
    EXPECT_EQ(boxes.debugBreaks, 0);  // Cancel on this check does not break either

    boxes.answers = {IDYES};
    try {
        empty.TypeParagraph();
        FAIL() << "Yes must end the call with an error";
    } catch (const EOleException& e) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^intf != 0 failed - utilcls/\\d+$"))
                        .match(e.Message())
                        .hasMatch());
        EXPECT_EQ(e.ErrorCode(), ResultCode(0x80004005));
        EXPECT_EQ(e.Source(), QStringLiteral("utilcls"));
    }
}

TEST(Assertion, AResultPlaceThatIsNotEmptyIsReportedAndReleased) {
    BoxRecorder boxes;
    auto script = std::make_shared<Script>();
    _ApplicationPtr app(new ScriptedApplication(script));
    DocumentsPtr documents = app.get_Documents();
    ASSERT_TRUE(documents);
    _Application* raw = app.get();
    raw->AddRef();
    EXPECT_EQ(raw->Release(), 1u);  // only `app` holds it

    _Application** place = &app;  // not empty
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("intf==0 @ utilcls/")));
    EXPECT_EQ(*place, nullptr);  // the old reference went, not leaked
}

TEST(Assertion, EmptyFileNameAndNullInterfaceId) {
    BoxRecorder boxes;
    boxes.answers = {IDCANCEL, IDNO};
    EXPECT_TRUE(WideFileName(QString()).IsEmpty());
    EXPECT_EQ(boxes.debugBreaks, 1);  // this check breaks on Cancel
    auto script = std::make_shared<Script>();
    const IUnknownPtr root(static_cast<_Application*>(new ScriptedApplication(script)));
    void* out = nullptr;
    EXPECT_EQ(QueryInterfaceChecked(root.get(), GUID_NULL, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("size != 0 @ utilcls/")));
    EXPECT_TRUE(boxes.shown[1].text.startsWith(QStringLiteral("GetIID() != GUID_NULL @ utilcls/")));
}

// A registry with scripted word processors, a component and the boxes.
class WordConnection : public ::testing::Test {
protected:
    void SetUp() override { word.SetServerRegistry(&registry); }

    // A scripted instance registered as running.
    ScriptPtr RunningInstance() {
        auto running = std::make_shared<Script>();
        const IUnknownPtr app(static_cast<_Application*>(new ScriptedApplication(running)));
        registry.RegisterActiveObject(CLSID_WordApplication, app.get(), &runningCookie);
        return running;
    }

    BoxRecorder boxes;
    TServerRegistry registry;
    ScriptPtr script = std::make_shared<Script>();
    std::uint32_t factory = RegisterScripted(registry, script);
    std::uint32_t runningCookie = 0;
    TWordApplication word{nullptr};
};

TEST_F(WordConnection, ServerDataAndInstanceCount) {
    EXPECT_EQ(StringFromCLSID(word.ServerData()->ClassID),
              QStringLiteral("{000209FF-0000-0000-C000-000000000046}"));
    EXPECT_EQ(StringFromCLSID(word.ServerData()->IntfIID),
              QStringLiteral("{00020970-0000-0000-C000-000000000046}"));
    EXPECT_EQ(StringFromCLSID(word.ServerData()->EventIID),
              QStringLiteral("{000209FE-0000-0000-C000-000000000046}"));
    const int before = TWordApplication::CServerData.InstanceCount;
    {
        TWordApplication second(nullptr);
        EXPECT_EQ(TWordApplication::CServerData.InstanceCount, before + 1);
    }
    EXPECT_EQ(TWordApplication::CServerData.InstanceCount, before);
}

TEST_F(WordConnection, RunningOrNewAttachesToTheRunningInstance) {
    const ScriptPtr running = RunningInstance();
    word.Connect();
    EXPECT_TRUE(word.Connected());
    EXPECT_TRUE(script->calls.empty());  // no new instance
    word.Set_Visible(OLE_TRUE);
    EXPECT_EQ(running->calls, std::vector<std::string>{"Visible(-1)"});
    EXPECT_EQ(running->events.get()->SinkCount(), 1u);

    word.Connect();  // connected already: nothing
    EXPECT_EQ(running->events.get()->SinkCount(), 1u);
    EXPECT_TRUE(script->calls.empty());

    word.Disconnect();  // asks even an instance it found running to quit
    EXPECT_FALSE(word.Connected());
    EXPECT_EQ(running->calls.back(), "Quit(-,-,-)");
    EXPECT_EQ(running->events.get()->SinkCount(), 0u);
    EXPECT_EQ(word.EventConnection(), 0u);
    const std::size_t calls = running->calls.size();
    word.Disconnect();
    EXPECT_EQ(running->calls.size(), calls);
}

TEST_F(WordConnection, RunningOrNewStartsANewInstanceWhenNoneRuns) {
    word.Connect();
    EXPECT_EQ(script->calls, std::vector<std::string>{"CreateInstance"});
    EXPECT_NE(word.EventConnection(), 0u);
}

TEST_F(WordConnection, NewInstanceIgnoresTheRunningOne) {
    const ScriptPtr running = RunningInstance();
    word.SetConnectKind(ckNewInstance);
    word.Connect();
    EXPECT_EQ(script->calls, std::vector<std::string>{"CreateInstance"});
}

TEST_F(WordConnection, RunningInstanceOnlyFailsWithTheClassNamed) {
    word.SetConnectKind(ckRunningInstance);
    try {
        word.Connect();
        FAIL() << "no instance runs";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Es läuft keine Instanz von Word.Application "
                                              "{000209FF-0000-0000-C000-000000000046}."));
        EXPECT_EQ(e.ErrorCode(), MK_E_UNAVAILABLE);
    }
    EXPECT_FALSE(word.Connected());
    const ScriptPtr running = RunningInstance();
    word.Connect();
    EXPECT_TRUE(word.Connected());
}

TEST_F(WordConnection, FailingCreationRaisesTheSystemMessage) {
    script->results["CreateInstance"] = CO_E_SERVER_EXEC_FAILURE;
    try {
        word.Connect();
        FAIL() << "the instance cannot start";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Fehler bei der Ausführung des Servers"));
        EXPECT_EQ(e.ErrorCode(), CO_E_SERVER_EXEC_FAILURE);
    }
    registry.RevokeFactory(factory);
    EXPECT_THROW(word.Connect(), EOleSysError);  // no server at all
}

TEST_F(WordConnection, RemoteAndAttachKinds) {
    word.SetRemoteMachineName(QStringLiteral("praxis-pc"));
    EXPECT_EQ(word.ConnectKind(), ckRemote);
    try {
        word.Connect();
        FAIL() << "there is no remote activation";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), RPC_S_SERVER_UNAVAILABLE);
    }
    word.SetRemoteMachineName(QString());
    word.SetConnectKind(ckAttachToInterface);
    word.SetAutoConnect(true);
    EXPECT_FALSE(word.AutoConnect());
    word.Connect();  // obtains nothing
    EXPECT_FALSE(word.Connected());
    EXPECT_TRUE(script->calls.empty());
    word.ConnectTo(_ApplicationPtr(new ScriptedApplication(script)));
    EXPECT_TRUE(word.Connected());
    EXPECT_EQ(script->events.get()->SinkCount(), 1u);
}

TEST_F(WordConnection, AutoConnectConnectsWhenLoadedButNotInADesigner) {
    word.SetAutoConnect(true);
    word.SetDesigning(true);
    word.BeginLoading();
    word.EndLoading();
    EXPECT_FALSE(word.Connected());
    word.SetDesigning(false);
    word.BeginLoading();
    word.EndLoading();
    EXPECT_TRUE(word.Connected());
}

TEST_F(WordConnection, DefaultInterfaceQueryFailingIsAGuardedCall) {
    registry.RevokeFactory(factory);
    registry.RegisterFactory(CLSID_WordApplication, QStringLiteral("Word.Application"),
                             [](IUnknown** server) {
                                 // An object without the application interface.
                                 *server = new TConnectionPoint;
                                 (*server)->AddRef();
                                 return S_OK;
                             });
    word.Connect();
    EXPECT_FALSE(word.Connected());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(
        QStringLiteral("'src->QueryInterface(GetIID(), (LPVOID*)(&intf))': "
                       "Schnittstelle nicht unterstützt\r\n @ utilcls/")));
}

TEST(WordConnectionLifetime, DestroyingTheComponentAsksTheInstanceToQuit) {
    TServerRegistry registry;
    auto script = std::make_shared<Script>();
    RegisterScripted(registry, script);
    {
        TWordApplication word(nullptr);
        word.SetServerRegistry(&registry);
        word.Get_Selection();  // a property wrapper connects on demand
        EXPECT_TRUE(word.Connected());
    }
    EXPECT_EQ(script->calls,
              (std::vector<std::string>{"CreateInstance", "Selection", "Quit(-,-,-)"}));
    EXPECT_EQ(script->events.get()->SinkCount(), 0u);
}

TEST_F(WordConnection, EventsReachTheirPropertiesByNumber) {
    std::vector<int> received;
    TWordApplicationEvent* const properties[] = {
        &word.OnStartup,
        &word.OnQuit,
        &word.OnDocumentChange,
        &word.OnDocumentOpen,
        &word.OnDocumentBeforeClose,
        &word.OnDocumentBeforePrint,
        &word.OnDocumentBeforeSave,
        &word.OnNewDocument,
        &word.OnWindowActivate,
        &word.OnWindowDeactivate,
        &word.OnWindowSelectionChange,
        &word.OnWindowBeforeRightClick,
        &word.OnWindowBeforeDoubleClick,
    };
    for (int i = 0; i < 13; ++i) {
        *properties[i] = [&received, i, this](TComponent* sender, std::span<TVariant>) {
            EXPECT_EQ(sender, &word);
            received.push_back(i);
        };
    }
    word.Connect();
    for (int number = 0; number <= 16; ++number) {
        script->events.get()->Fire(number);
    }
    EXPECT_EQ(received, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // Each number went to its own property: 1-4 to the first four, 6-14 to the rest.
    received.clear();
    script->events.get()->Fire(6);
    EXPECT_EQ(received, std::vector<int>{4});
}

}  // namespace
}  // namespace velmora::test

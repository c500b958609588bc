#include "support/fake_network.h"
#include "support/recording_msgbox.h"
#include "ui/run_handlers.h"
#include "ui/ui_fixture.h"

namespace {

using ui::mainFrm;

class ManualPingTest : public UiTest {
protected:
    void SetUp() override
    {
        ui::ConnectRunsToMainForm();
        network.hosts["alpha"] = {{192, 0, 2, 7}};
        network.hosts[" alpha "] = {{192, 0, 2, 8}};
        network.statusOf["192.0.2.8"] = 11010;
    }

    QString press(const QString& host, const QString& timeout = QStringLiteral("500"))
    {
        mainFrm().txtHost->setText(host);
        mainFrm().txtPingtimeout->setText(timeout);
        mainFrm().cmdManPing->click();
        return mainFrm().Label6->text();
    }

    FakeNetwork network;
    RecordingMessageBox messages;
};

TEST_F(ManualPingTest, TheCaptionTellsTheVerdictOnTheHostAsTyped)
{
    EXPECT_EQ(press("alpha"), "Success! alpha Replied from ip: 192.0.2.7");
    // Blanks are kept, for the lookup and in the caption.
    EXPECT_EQ(press(" alpha "), "Error!  alpha  Did not reply. Error: 11010   [ ip req timed out ]");
    EXPECT_EQ(press("nowhere"), "Error! nowhere Did not reply. Error: -1   [ inet_addr: bad IP format ]");
    EXPECT_EQ(network.lookups, (std::vector<std::string>{"alpha", " alpha ", "nowhere"}));
    press("alpha", "0");
    EXPECT_EQ(network.echoes.back().timeout, 0u);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ManualPingTest, FailuresBeforeTheEchoLeaveTheCaptionAlone)
{
    press("alpha");
    network.startupResult = 10091;
    press("nowhere");
    EXPECT_EQ(messages.prompts(), QStringList{"Windows Sockets for 32 bit Windows is not successfully responding."});
    EXPECT_EQ(messages.shown[0].style, 0);

    network.startupResult = 0;
    press("nowhere", "");
    press("nowhere", "5 0");
    press("nowhere", "-5");
    ASSERT_EQ(messages.shown.size(), 4u);
    EXPECT_EQ(messages.shown[1].prompt, "Type mismatch: the ping timeout \"\" is not a whole number.");
    EXPECT_EQ(messages.shown[3].prompt, "Overflow: the ping timeout \"-5\" lies outside 0 to 2147483647.");
    EXPECT_EQ(mainFrm().Label6->text(), "Success! alpha Replied from ip: 192.0.2.7");
    EXPECT_EQ(network.echoes.size(), 1u);
}

}  // namespace

// The version dialog's logic: the decision, the skip list, the states it shows and the
// end codes of a download against the test server.
#include "client/local/VersionUpdate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "support/sandbox.h"
#include "support/wait.h"
#include "testserver/TestServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

const char kTwoSkipped[] =
    "<?xml version='1.0' encoding='utf-8'?>\n"
    "<SkipVersions>\n"
    "\t<version>1.0.1</version>\n"
    "\t<version>1.0.2</version>\n"
    "</SkipVersions>\n\n";

class VersionUpdateTest : public ::testing::Test {
protected:
    VersionUpdateTest() {
        window = loop.CreateWindow([this](plat::Message& m) -> plat::MsgResult {
            if (!model) return 0;  // the dialog is gone
            if (m.message == WM_UPDATE_PROGRESS) percent = model->OnDownloadProgress();
            if (m.message == WM_UPDATE_RESULT) end = model->OnDownloadResult(static_cast<int>(m.wParam));
            return 0;
        });
    }
    ~VersionUpdateTest() override { model.reset(); }

    VersionUpdate::Options Options(bool automatic, const std::string& fileVersion = "1.0.0.0") {
        VersionUpdate::Options options;
        options.updateSite = server ? server->BaseUrl() : "http://127.0.0.1:9";
        options.baseFolder = box.Root().string();
        options.fileVersion = fileVersion;
        options.automatic = automatic;
        return options;
    }
    fs::path SkipFile() const { return box.Root() / "WindowsClientApplication" / "SkipVersions.xml"; }
    fs::path Installer() const { return box.Root() / "WindowsClientApplication" / "DravikClient.exe"; }

    void StartServer(const std::string& version, const std::string& installerBytes) {
        testserver::ServerOptions options;
        options.dataDir = box.Dir("server");
        server = std::make_unique<testserver::TestServer>(options);
        server->Start();
        server->SetClientVersion(version, installerBytes);
    }
    void InstallerFault(testserver::FaultKind kind, int status = 500, std::chrono::milliseconds delay = 0ms) {
        testserver::Fault fault;
        fault.route = "installer";
        fault.kind = kind;
        fault.status = status;
        fault.delay = delay;
        server->InjectFault(fault);
    }
    // Offers the server's version and presses Update; the dialog's end code.
    std::optional<int> Download(VersionUpdate::Options options) {
        model = std::make_unique<VersionUpdate>(std::move(options));
        EXPECT_EQ(model->Decide(), std::nullopt);
        EXPECT_EQ(model->GetState(), VersionUpdate::StateOffer);
        EXPECT_EQ(model->OnUpdate(window), std::nullopt);
        EXPECT_EQ(model->GetState(), VersionUpdate::StateDownloading);
        return WaitForEnd();
    }
    std::optional<int> WaitForEnd() {
        WaitUntil([&] {
            loop.ProcessDue();
            return end.has_value();
        });
        return end;
    }

    testsupport::Sandbox box;
    std::unique_ptr<testserver::TestServer> server;
    plat::MessageLoop loop;
    plat::WindowId window = plat::kNoWindow;
    std::unique_ptr<VersionUpdate> model;
    std::optional<int> end;
    int percent = -1;
};

TEST_F(VersionUpdateTest, TheVersionDecision) {
    struct Case {
        const char* name;
        bool automatic;
        const char* fileVersion;
        const char* server;
        const char* skipFile;  // null: none
        std::optional<int> end;
        VersionUpdate::State state;  // when it shows
        bool skipBox;
    };
    const Case cases[] = {
        {"no server version", true, "1.0.0.0", "", nullptr, VersionUpdate::EndNoServerVersion, {}, false},
        {"no server version, manual", false, "1.0.0.0", "", nullptr, VersionUpdate::EndNoServerVersion, {}, false},
        {"up to date", true, "2.2.3.0", "2.2.3", nullptr, VersionUpdate::EndNothingToDo, {}, false},
        {"ordinal: 2.2.9 is above 2.2.10", true, "2.2.9.1", "2.2.10", nullptr, VersionUpdate::EndNothingToDo, {}, false},
        {"newer", true, "1.0.0.0", "1.0.2", nullptr, std::nullopt, VersionUpdate::StateOffer, true},
        {"skipped", true, "1.0.0.0", "1.0.2", kTwoSkipped, VersionUpdate::EndNothingToDo, {}, false},
        {"unreadable skip list", true, "1.0.0.0", "1.0.2", "<SkipVersions><version>", std::nullopt,
         VersionUpdate::StateOffer, true},
        {"manual: no skip list", false, "1.0.0.0", "1.0.2", kTwoSkipped, std::nullopt, VersionUpdate::StateOffer, false},
        {"manual: up to date", false, "2.2.3.0", "2.2.3", nullptr, std::nullopt, VersionUpdate::StateLatest, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(box.Root() / "WindowsClientApplication");
        if (c.skipFile != nullptr) WriteFile(SkipFile(), c.skipFile);
        VersionUpdate update(Options(c.automatic, c.fileVersion));
        EXPECT_EQ(update.Decide(c.server), c.end);
        if (c.end) continue;
        EXPECT_EQ(update.GetState(), c.state);
        EXPECT_EQ(update.GetView().skipBox, c.skipBox);
    }
}

TEST_F(VersionUpdateTest, WhatEachStateShows) {
    VersionUpdate offer(Options(true));
    ASSERT_EQ(offer.Decide("1.0.2"), std::nullopt);
    VersionUpdate::View view = offer.GetView();
    EXPECT_TRUE(view.headline && view.notUpdateButton && view.skipBox);
    EXPECT_FALSE(view.status || view.progress);
    EXPECT_EQ(view.headlineKey, "New version detected:");
    EXPECT_EQ(view.headlineVersion, "1.0.2");
    EXPECT_EQ(view.updateButtonKey, "Update");

    VersionUpdate latest(Options(false, "1.0.2.0"));
    ASSERT_EQ(latest.Decide("1.0.2"), std::nullopt);
    view = latest.GetView();
    EXPECT_TRUE(view.headline);
    EXPECT_FALSE(view.notUpdateButton || view.skipBox || view.status || view.progress);
    EXPECT_EQ(view.headlineKey, "The current version is the latest version.");
    EXPECT_EQ(view.updateButtonKey, "OK");
    EXPECT_EQ(latest.OnUpdate(window), VersionUpdate::EndNothingToDo);
}

TEST_F(VersionUpdateTest, SkippingAVersionAppendsItToTheList) {
    WriteFile(SkipFile(), kTwoSkipped);
    VersionUpdate update(Options(true));
    ASSERT_EQ(update.Decide("1.0.3"), std::nullopt);
    EXPECT_EQ(update.OnNotUpdate(true), VersionUpdate::EndNothingToDo);
    EXPECT_EQ(ReadFile(SkipFile()),
              "<?xml version='1.0' encoding='utf-8'?>\n<SkipVersions>\n\t<version>1.0.1</version>\n"
              "\t<version>1.0.2</version>\n\t<version>1.0.3</version>\n</SkipVersions>\n\n");
    // Skipped once is enough.
    EXPECT_TRUE(update.AddSkipVersion());
    EXPECT_EQ(update.SkippedVersions().size(), 3u);

    // The next automatic check ends quietly; declining without the box writes nothing.
    VersionUpdate again(Options(true));
    EXPECT_EQ(again.Decide("1.0.3"), VersionUpdate::EndNothingToDo);
    VersionUpdate declined(Options(true));
    ASSERT_EQ(declined.Decide("1.0.4"), std::nullopt);
    EXPECT_EQ(declined.OnNotUpdate(false), VersionUpdate::EndNothingToDo);
    // In manual mode the box is not offered and nothing is written either.
    VersionUpdate manual(Options(false));
    ASSERT_EQ(manual.Decide("1.0.4"), std::nullopt);
    EXPECT_EQ(manual.OnNotUpdate(true), VersionUpdate::EndNothingToDo);
    EXPECT_EQ(ReadFile(SkipFile()).find("1.0.4"), std::string::npos);
}

TEST_F(VersionUpdateTest, AnUnreadableSkipListIsRewrittenWithTheNewVersionOnly) {
    WriteFile(SkipFile(), "not xml <<<");
    VersionUpdate update(Options(true));
    ASSERT_EQ(update.Decide("1.0.3"), std::nullopt);
    EXPECT_EQ(update.OnNotUpdate(true), VersionUpdate::EndNothingToDo);
    EXPECT_EQ(ReadFile(SkipFile()),
              "<?xml version='1.0' encoding='utf-8'?>\n<SkipVersions>\n\t<version>1.0.3</version>\n</SkipVersions>\n\n");
}

TEST_F(VersionUpdateTest, EscapeOrTheCloseBoxNeverEndsWithSuccess) {
    VersionUpdate offer(Options(true));
    ASSERT_EQ(offer.Decide("1.0.2"), std::nullopt);
    EXPECT_EQ(offer.OnCloseRequest(), VersionUpdate::EndNothingToDo);

    // Closed while downloading: even a download that completes ends with 4.
    StartServer("1.0.2", "installer bytes");
    model = std::make_unique<VersionUpdate>(Options(true));
    ASSERT_EQ(model->Decide(), std::nullopt);
    ASSERT_EQ(model->OnUpdate(plat::kNoWindow), std::nullopt);  // the result is handed over below
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Installer()); }));
    EXPECT_EQ(model->OnCloseRequest(), std::nullopt) << "the end comes with the result";
    EXPECT_EQ(model->OnDownloadResult(InstallerDownloaded), VersionUpdate::EndNothingToDo);
    EXPECT_EQ(model->InstallerPath(), "");
}

TEST_F(VersionUpdateTest, TheInstallerIsDownloadedFromTheSite) {
    const std::string bytes(2 * 1024 * 1024 + 5, 'x');
    StartServer("1.0.2", bytes);
    EXPECT_EQ(Download(Options(true)), VersionUpdate::EndInstallerReady);
    EXPECT_EQ(model->ServerVersion(), "1.0.2");
    EXPECT_EQ(model->InstallerPath(), Installer().string());
    EXPECT_EQ(ReadFile(Installer()), bytes);
    EXPECT_EQ(percent, 100);
}

TEST_F(VersionUpdateTest, DownloadFailuresEndWithTheirCodes) {
    StartServer("1.0.2", "installer bytes");

    InstallerFault(testserver::FaultKind::Status, 404);
    EXPECT_EQ(Download(Options(true)), VersionUpdate::EndDownloadFailed);
    EXPECT_FALSE(fs::exists(Installer()));
    EXPECT_EQ(model->InstallerPath(), "");

    end.reset();
    InstallerFault(testserver::FaultKind::Delay, 0, 3s);
    VersionUpdate::Options quiet = Options(true);
    quiet.noDataLimit = 200ms;
    EXPECT_EQ(Download(quiet), VersionUpdate::EndDownloadFailed) << "no data for too long";

    end.reset();
    fs::remove_all(box.Root() / "WindowsClientApplication");
    WriteFile(box.Root() / "WindowsClientApplication", "a file in the way");
    EXPECT_EQ(Download(Options(true)), VersionUpdate::EndFileOccupied);
    fs::remove(box.Root() / "WindowsClientApplication");

    // The update button turns into cancel while downloading.
    end.reset();
    InstallerFault(testserver::FaultKind::Delay, 0, 3s);
    model = std::make_unique<VersionUpdate>(Options(true));
    ASSERT_EQ(model->Decide(), std::nullopt);
    ASSERT_EQ(model->OnUpdate(window), std::nullopt);
    EXPECT_EQ(model->GetView().updateButtonKey, "Cancel update");
    EXPECT_EQ(model->OnUpdate(window), std::nullopt);
    EXPECT_EQ(WaitForEnd(), VersionUpdate::EndNothingToDo);
}

TEST_F(VersionUpdateTest, AnUnreachableSiteGivesNoVersion) {
    VersionUpdate update(Options(false));
    EXPECT_EQ(update.Decide(), VersionUpdate::EndNoServerVersion);
}

TEST_F(VersionUpdateTest, DestroyedDuringTheDownloadItJoinsTheThread) {
    StartServer("1.0.2", "installer bytes");
    InstallerFault(testserver::FaultKind::Delay, 0, 3s);
    model = std::make_unique<VersionUpdate>(Options(true));
    ASSERT_EQ(model->Decide(), std::nullopt);
    ASSERT_EQ(model->OnUpdate(window), std::nullopt);
    model.reset();
    loop.ProcessDue();
    EXPECT_FALSE(end.has_value());
}

}  // namespace

// The settings dialog on the offscreen display, the test playing the user.
#include "settings/settings_dialog.h"

#include <gtest/gtest.h>

#include <functional>

#include "diag/debug_log.h"
#include "platform/headless/headless.h"
#include "platform/store.h"
#include "platform/store_test_support.h"
#include "resources/resource_ids.h"
#include "settings/preferences.h"

namespace {

const std::string kGroup = "Software\\Veltrane\\Lumivista/";
const std::string kQueueKey = "Software\\Veltrane\\Lumivista\\Queue\\";

class SettingsDialogTest : public ScratchStoreTest {
protected:
    void SetUp() override {
        ScratchStoreTest::SetUp();
        setenv("KALEIDRA_BACKEND", "headless", 1);
        ASSERT_TRUE(InitPlatform(nullptr));
        folderChanged = false;
        headless::OnIdle([] {
            ADD_FAILURE() << "the dialog was left open";
            headless::DialogKey(VK_ESCAPE);
        });
    }

    void TearDown() override {
        CloseDebugLog();
        ShutdownPlatform();
        ScratchStoreTest::TearDown();
    }

    // Opens the dialog; `user` runs once it shows and must end it.
    static INT_PTR Run(std::function<void()> user) {
        headless::At(headless::Now(), std::move(user));
        return DialogBoxParam(kSettingsDialogId, nullptr, SettingsDialogProc, 0);
    }

    static void Store(std::string_view name, std::string_view text) {
        ASSERT_EQ(SHSetValue(settingsKeyPath, name, text), ERROR_SUCCESS);
    }

    static std::string Stored(std::string_view name) {
        std::string text = "<missing>";
        SHGetValue(settingsKeyPath, name, &text, 2048);
        return text;
    }

    // A walk as a saver run leaves it.
    static void StoreWalk() {
        Store("QIndex", "7");
        ASSERT_EQ(SHSetValue(kQueueKey, "0", "/pics/a"), ERROR_SUCCESS);
        ASSERT_EQ(SHSetValue(kQueueKey, "1", "/pics/b"), ERROR_SUCCESS);
    }

    bool WalkStored() const {
        std::string dump = DumpStore(StoreFile());
        return dump.find("QIndex=7") != std::string::npos && dump.find("Queue/0=/pics/a") != std::string::npos &&
               dump.find("Queue/1=/pics/b") != std::string::npos;
    }
    bool WalkGone() const {
        std::string dump = DumpStore(StoreFile());
        return dump.find("QIndex") == std::string::npos && dump.find("Queue") == std::string::npos;
    }
};

TEST_F(SettingsDialogTest, NothingStoredShowsTheDialogsDefaultsAndOkStoresThemInOrder) {
    INT_PTR result = Run([] {
        for (int id : {kRankingCheckId, kHidePrivateCheckId, kPlayCheckId, kSubfoldersCheckId})
            EXPECT_TRUE(headless::DialogItemChecked(id)) << id;
        EXPECT_FALSE(headless::DialogItemChecked(kMuteCheckId));
        EXPECT_EQ(headless::DialogSliderPos(kPicturesSliderId), 0);
        EXPECT_EQ(headless::DialogItemText(kPicturesTextId), "1");
        EXPECT_EQ(headless::DialogSliderPos(kIntervalSliderId), 5);
        EXPECT_EQ(headless::DialogItemText(kIntervalTextId), "5 seconds");
        EXPECT_EQ(headless::DialogItemText(kFolderTextId), "");
        EXPECT_EQ(headless::DialogItemText(kVersionTextId), "Kaleidra Screen Saver 1.4beta2");
        EXPECT_EQ(headless::DialogItemText(kBuildStampTextId), "Sun Oct 22 20:02:26 2006");
        headless::ClickDialogItem(IDOK);
    });
    EXPECT_EQ(result, 1);
    // No "Path" without a folder choice: the saver's own default applies.
    EXPECT_EQ(DumpStore(StoreFile()), kGroup + "UseRankingForDisplay=1\n" + kGroup + "HideFilesLabeledPrivate=1\n" +
                                          kGroup + "Mute Video=0\n" + kGroup + "Play Video=1\n" + kGroup +
                                          "Include Subdirectories=1\n" + kGroup + "Timer=5\n" + kGroup +
                                          "ImagesPerScreen=1\n");
}

TEST_F(SettingsDialogTest, StoredValuesAreShownAndOkStoresWhatTheControlsHold) {
    const struct {
        const char* picturesStored;
        int position;
        const char* shown;
        const char* picturesWritten;
    } cases[] = {{"5", 0, "1", "1"}, {"12", 5, "12", "12"}, {"1", 0, "1", "1"}, {"-3", 0, "1", "1"}, {"42", 10, "42", "42"}};
    for (const auto& c : cases) {
        Store("ImagesPerScreen", c.picturesStored);
        Store("Timer", "100");
        Store("Play Video", "2");  // only exactly 1 is on
        Store("Mute Video", "1");
        Store("Path", "/pics");
        StoreWalk();
        EXPECT_EQ(Run([&] {
                      EXPECT_EQ(headless::DialogSliderPos(kPicturesSliderId), c.position) << c.picturesStored;
                      EXPECT_EQ(headless::DialogItemText(kPicturesTextId), c.shown) << c.picturesStored;
                      EXPECT_EQ(headless::DialogSliderPos(kIntervalSliderId), 60);
                      EXPECT_EQ(headless::DialogItemText(kIntervalTextId), "100 seconds");
                      EXPECT_FALSE(headless::DialogItemChecked(kPlayCheckId));
                      EXPECT_TRUE(headless::DialogItemChecked(kMuteCheckId));
                      EXPECT_EQ(headless::DialogItemText(kFolderTextId), "/pics");
                      headless::DialogKey(VK_RETURN);  // the default button
                  }),
                  1);
        EXPECT_EQ(Stored("ImagesPerScreen"), c.picturesWritten);
        EXPECT_EQ(Stored("Timer"), "60");
        EXPECT_EQ(Stored("Play Video"), "0");
        EXPECT_EQ(Stored("Mute Video"), "1");
        EXPECT_EQ(Stored("Path"), "/pics");
        EXPECT_TRUE(WalkStored()) << "OK without a folder choice keeps the walk";
    }
}

TEST_F(SettingsDialogTest, ReadOutsFollowTheSlidersAndCancelStoresNothing) {
    for (auto cancel : {+[] { headless::ClickDialogItem(IDCANCEL); }, +[] { headless::DialogKey(VK_ESCAPE); },
                        +[] { headless::CloseDialog(); }}) {
        EXPECT_EQ(Run([cancel] {
                      const std::pair<int, const char*> intervals[] = {
                          {0, "Less than 1 second"}, {1, "1 second"}, {2, "2 seconds"}, {75, "60 seconds"}};
                      for (auto [pos, text] : intervals) {
                          headless::MoveDialogSlider(kIntervalSliderId, pos);
                          EXPECT_EQ(headless::DialogItemText(kIntervalTextId), text);
                      }
                      const std::pair<int, const char*> pictures[] = {{10, "42"}, {3, "6"}, {-4, "1"}};
                      for (auto [pos, text] : pictures) {
                          headless::MoveDialogSlider(kPicturesSliderId, pos);
                          EXPECT_EQ(headless::DialogItemText(kPicturesTextId), text);
                      }
                      headless::ClickDialogItem(kMuteCheckId);
                      EXPECT_TRUE(headless::DialogItemChecked(kMuteCheckId));
                      EXPECT_TRUE(headless::DialogOpen());
                      cancel();
                  }),
                  0);
        EXPECT_FALSE(std::filesystem::exists(StoreFile()));
    }
}

TEST_F(SettingsDialogTest, FolderChosenThenCancelWritesNothingAndKeepsTheWalk) {
    Store("Path", "/pics");
    StoreWalk();
    const std::string before = DumpStore(StoreFile());
    headless::AnswerFolderBrowser("/new/folder");
    EXPECT_EQ(Run([] {
                  headless::ClickDialogItem(kBrowseButtonId);
                  EXPECT_EQ(headless::DialogItemText(kFolderTextId), "/new/folder");
                  headless::ClickDialogItem(IDCANCEL);
              }),
              0);
    EXPECT_EQ(DumpStore(StoreFile()), before);
}

TEST_F(SettingsDialogTest, FolderChosenThenOkStoresPathAndDiscardsTheWalkEvenForTheSameFolder) {
    Store("Path", "/pics");
    StoreWalk();
    headless::AnswerFolderBrowser("/pics");
    EXPECT_EQ(Run([] {
                  headless::ClickDialogItem(kBrowseButtonId);
                  headless::ClickDialogItem(IDOK);
              }),
              1);
    EXPECT_EQ(Stored("Path"), "/pics");
    EXPECT_TRUE(WalkGone());
    EXPECT_EQ(Stored("Timer"), "5") << "the other settings are stored as well";
}

TEST_F(SettingsDialogTest, BrowserAnswersThatLeaveTheFolderLineAsItWas) {
    Store("Path", "/pics");
    StoreWalk();
    // Cancelled: no choice, the walk stays.
    headless::AnswerFolderBrowser(std::nullopt);
    Run([] {
        headless::ClickDialogItem(kBrowseButtonId);
        headless::ClickDialogItem(IDOK);
    });
    EXPECT_FALSE(folderChanged);
    EXPECT_TRUE(WalkStored());

    // Longer than the folder line can hold: storing it cut would name another
    // folder, so the choice does not count.
    headless::AnswerFolderBrowser("/" + std::string(259, 'x'));
    Run([] {
        headless::ClickDialogItem(kBrowseButtonId);
        EXPECT_EQ(headless::DialogItemText(kFolderTextId), "/pics");
        headless::ClickDialogItem(IDOK);
    });
    EXPECT_FALSE(folderChanged);
    EXPECT_TRUE(WalkStored());

    // Not a file-system folder: not shown, yet a completed choice.
    headless::AnswerFolderBrowser("::{desktop}");
    Run([] {
        headless::ClickDialogItem(kBrowseButtonId);
        EXPECT_EQ(headless::DialogItemText(kFolderTextId), "/pics");
        headless::ClickDialogItem(IDOK);
    });
    EXPECT_TRUE(folderChanged);
    EXPECT_EQ(Stored("Path"), "/pics");
    EXPECT_TRUE(WalkGone());
}

TEST_F(SettingsDialogTest, FolderPathsAreStoredExactlyUpToTheLimit) {
    // Bytes that are not UTF-8 count one unit each; 259 units fill the line.
    for (const std::string& path : {std::string("/pics/caf\xe9 \xff"), "/" + std::string(258, 'x')}) {
        headless::AnswerFolderBrowser(path);
        Run([] {
            headless::ClickDialogItem(kBrowseButtonId);
            headless::ClickDialogItem(IDOK);
        });
        EXPECT_EQ(Stored("Path"), path);
    }
}

TEST_F(SettingsDialogTest, TraceOfAFolderChoiceStoredByOk) {
    OpenDebugLog();
    headless::AnswerFolderBrowser("/new");
    Run([] {
        headless::ClickDialogItem(kBrowseButtonId);
        headless::ClickDialogItem(IDOK);
    });
    std::string log = ReadWhole(WorkDir() / "VeltraneSSDebugSpool0.log");
    for (int line = 0; line < 2; ++line) log.erase(0, log.find('\n') + 1);  // the header
    EXPECT_EQ(log, "0x2 WM_INITDIALOG SHGetValue\n0x0 \n0x0 WM_INITDIALOG SetDlgItemText\n"
                   "0x0 /new\n"
                   "0x0 IDOK\n0x0 IDOK SHSetValue\n0x0 /new\n");
}

}  // namespace

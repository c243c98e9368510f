// The frame that both jobs share: the port, the script file, the prompt, the
// module's detection, and the clean-up after every run.
#include "job_fixture.h"

namespace {

const char kDetectionFailed[] = "Connected instrument is no Korvan module";
const char kWaiting[] = "Wait for detection of Korvan";

} // namespace

TEST_F(JobTest, NoPortChosenCannotBeOpened) {
    const std::string path = Script("any.dcs", "abc");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ChoosePort(dialog_, 0);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Error on opening the COM-Port", " ");
    EXPECT_FALSE(run.prompted);
    ExpectCleanedUp(path);
}

TEST_F(JobTest, APortHeldElsewhereCannotBeOpened) {
    StartModule(); // holds COM2
    ChooseProfibusJob(dialog_, 3);
    ChoosePort(dialog_, kModulePort);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "Error on opening the COM-Port", " ");
    EXPECT_FALSE(run.prompted);
    ExpectCleanedUp();
}

TEST_F(JobTest, AMissingScriptFileEndsTheRunBeforeAnyPortIsOpened) {
    const std::string path = TempPath("missing.dcs");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, "The Script file could not be loaded", " ");
    EXPECT_FALSE(run.prompted);
    EXPECT_EQ(PortTable[kToolPort].tickCount, 0u);                        // its port never ran
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES); // and nothing created
    EXPECT_EQ(ModuleReceived(), "");
    ExpectCleanedUp();
}

TEST_F(JobTest, AnEmptyScriptFileIsAnEmptyDownload) {
    const std::string path = Script("empty.dcs", "");
    StartModule();
    ChooseFirmwareJob(dialog_, path);
    ExpectSuccess(RunJob(dialog_), " The programming of Firmware was successful. ");
    EXPECT_EQ(ModuleReceived(), "\x14\x10\n0000");
    ExpectCleanedUp(path);
}

TEST_F(JobTest, ABannerAmongTheFirstBytesIsNotRecognised) {
    options_.startupFault = kStartupBannerOnly;
    StartModule();
    ChooseProfibusJob(dialog_, 3);
    JobOutcome run = RunJob(dialog_);
    ExpectFailure(run, kDetectionFailed, kWaiting);
    // Given up 10 s after the module fell silent.
    EXPECT_GE(run.runMs - run.promptMs, 10000);
    EXPECT_EQ(ModuleReceived(), ""); // no command reached the module
    ExpectCleanedUp();
}

TEST_F(JobTest, ABannerWithAWrongLetterIsNotRecognised) {
    options_.startupFault = kStartupWrongLetter;
    StartModule();
    ChooseProfibusJob(dialog_, 3);
    ExpectFailure(RunJob(dialog_), kDetectionFailed, kWaiting);
    ExpectCleanedUp();
}

TEST_F(JobTest, BytesThatComeWhileThePromptStandsCountForTheDetection) {
    StartModule();
    ChooseProfibusJob(dialog_, 4);
    // The whole start-up output, banner included, has come before OK.
    JobOutcome run = RunJob(dialog_, true, 500);
    ExpectSuccess(run, " The programming of Profibus-ID was successful. ");
    EXPECT_EQ(Report().stationAddress, 4);
}

#include "display/saver_state.h"

UINT_PTR saverTimerId = 0;
int tickPeriodMs = 1000;
int imagesPerScreen = 9;
int fillCountdown = 0;
int pauseTicks = 0;
int linesOfMetadata = 1;
int lineHeight = 12;
int metadataBandHeight = 0;
bool gSmallWindow = false;
bool playVideo = true, muteVideo = false, includeSubdirectories = true, useRankingForDisplay = true,
     hideFilesLabeledPrivate = true;
std::string myDocumentsPath, myPicturesPath, myDocumentsName, myPicturesName;
std::unique_ptr<PictureHolder> starImage;
int splashState = 1;
Point mouseAnchor{kNoMouseAnchor, 0};
bool inTimerTick = false, closePending = false, backgroundErased = false, quadrantsReady = false;
bool gridsStale = false;
bool videoStartedThisTick = false;

bool UseRankingForDisplay() { return useRankingForDisplay; }
bool HideFilesLabeledPrivate() { return hideFilesLabeledPrivate; }

// The saver window's process-wide state, owned by the saver procedure and
// read by the collage, the folder walk and the picture loader. GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "imaging/picture_holder.h"
#include "platform/types.h"

extern UINT_PTR saverTimerId;      // the one saver timer (id 1); 0 when there is none
extern int tickPeriodMs;           // "Timer" × 1000, or 50 when that is 0
extern int imagesPerScreen;        // chooses the grid of each monitor
extern int fillCountdown;          // fast ticks left in the initial fill
extern int pauseTicks;             // ticks still to be skipped after Space
extern int linesOfMetadata;        // text lines under each picture: 0, 1 or 2
extern int lineHeight;             // pixels of one metadata line
extern int metadataBandHeight;     // pixels of the black band under each picture
extern bool gSmallWindow;          // the client area is narrower or lower than 300 pixels
extern bool playVideo, muteVideo, includeSubdirectories, useRankingForDisplay, hideFilesLabeledPrivate;
extern std::string myDocumentsPath, myPicturesPath, myDocumentsName, myPicturesName;
extern std::unique_ptr<PictureHolder> starImage;  // the star icon; made once per process
extern int splashState;            // 1 splash due, 2 splash painted, 0 splash over
extern Point mouseAnchor;          // where the mouse was first seen; x = -100000 before
extern bool inTimerTick, closePending, backgroundErased, quadrantsReady;
extern bool gridsStale;  // the window or the monitors changed during a tick: new grids when it ends
extern bool videoStartedThisTick;  // set by the walk when it starts a video, cleared by the tick

constexpr UINT_PTR kSaverTimerIdentifier = 1;
constexpr int kNoMouseAnchor = -100000;

bool UseRankingForDisplay();
bool HideFilesLabeledPrivate();

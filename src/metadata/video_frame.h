// Videos the walk hands to the picture loader (phone clips in MP4 or
// QuickTime files among them) shown as one still frame, the way the
// thumbnail service shows any clip the system can decode. FFmpeg demuxes
// and decodes in-process; the frame comes out as pictures do, so the same
// filters, fitting and turn apply.
#pragma once

#include <string_view>

#include "metadata/picture_decoder.h"

// True when head, a file's first bytes, opens an ISO base media file (MP4,
// QuickTime, 3GPP) whose brand is not a still picture's: HEIF and AVIF go to
// libvips.
bool IsIsoMediaVideo(std::string_view head);

// Decodes a frame from about a tenth into the clip in the file open at
// descriptor (read by position; the descriptor stays open), fitted within
// maxWidth × maxHeight at its display aspect and turned upright as the
// clip's display matrix says. False, with outcome untouched, when FFmpeg
// finds no video it may read there; otherwise outcome holds the frame or the
// failure.
bool DecodeVideoFrame(int descriptor, int maxWidth, int maxHeight, DecodeOutcome& outcome);

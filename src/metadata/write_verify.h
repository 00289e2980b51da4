// The guard between a rewritten working copy and the picture it would
// replace: a metadata write must never change what the picture shows.
#pragma once

#include <string>

// Empty when both files decode, every page of them, to the same pixels;
// otherwise why not, for the log.
std::string PixelDifference(const std::string& original, const std::string& copy);

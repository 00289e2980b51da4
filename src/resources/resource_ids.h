// Ids of the program's own resources, by which the program asks for them.
#pragma once

constexpr int kSaverIconId = 100;  // ResourceType::Icon: the 48 × 48 application icon
constexpr int kStarPngId = 144;    // ResourceType::Png: the 11 × 10 rating star
constexpr int kBannerPngId = 150;  // ResourceType::Png: the 800 × 428 splash banner

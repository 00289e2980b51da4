// What the quadrants look like on the offscreen display: pictures fitted and
// centred on black, the stars and the band of file data, the menu frame, and
// a tick repainting only what it changed.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "display/collage_fixture.h"
#include "imaging/drawing.h"

namespace {

using CollagePaint = CollageTest;

int Red(std::uint32_t rgb) { return (rgb >> 16) & 255; }
int Blue(std::uint32_t rgb) { return rgb & 255; }
bool Golden(std::uint32_t rgb) { return Red(rgb) > 200 && Blue(rgb) < 120; }

// The same texts drawn by the drawing primitive itself onto black, to be
// compared with what the window shows.
class Reference {
public:
    Reference(int width, int height) : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)) {
        dc_ = CreateSurfaceDC(surface_);
        FillRect(dc_, Rect{0, 0, width, height}, kBlack);
    }
    ~Reference() {
        DeleteSurfaceDC(dc_);
        cairo_surface_destroy(surface_);
    }
    void Text(std::string_view text, int x, int y) { DrawTextLine(dc_, text, x, y, 8); }
    std::uint32_t PixelAt(int x, int y) {
        cairo_surface_flush(surface_);
        auto* row = cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        return reinterpret_cast<std::uint32_t*>(row)[x] & 0xFFFFFF;
    }

private:
    cairo_surface_t* surface_;
    HDC dc_;
};

// Pixels of the area that differ from the reference, and pixels that are lit at all.
std::pair<int, int> Compare(HWND window, Reference& reference, const Rect& area) {
    int differing = 0, lit = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            std::uint32_t shown = headless::PixelAt(window, x, y);
            differing += shown != reference.PixelAt(x, y);
            lit += shown != kBlack;
        }
    }
    return {differing, lit};
}

TEST_F(CollagePaint, SmallPictureKeepsItsSizeCentredOnBlack) {
    PaintAndLook([&] { Q(4)->picture.SetBitmap(SolidSurface(100, 50, kBlue)); },
                 [&] {
                     // Quadrant 4 is (640, 360)–(1280, 720): the picture at (910, 515)–(1010, 565).
                     EXPECT_EQ(Pixel(910, 515), kBlue);
                     EXPECT_EQ(Pixel(1009, 564), kBlue);
                     for (auto [x, y] : {std::pair{909, 530}, {1010, 530}, {950, 514}, {950, 565}, {641, 361},
                                         {1279, 719}, {960, 400}})
                         EXPECT_EQ(Pixel(x, y), kBlack) << x << "," << y;
                     EXPECT_EQ(Pixel(639, 500), kWhite) << "an empty quadrant paints nothing";
                 });
}

TEST_F(CollagePaint, WidePictureInATallQuadrantHasBlackBarsAboveAndBelow) {
    SetPreference("ImagesPerScreen", "2");
    PaintAndLook([&] { Q(0)->picture.SetBitmap(SolidSurface(1920, 480, kGreen)); },
                 [&] {
                     // Halved to 960 × 240 in a 960 × 1080 quadrant: 420 black rows above and below.
                     for (int x : {0, 480, 959}) {
                         EXPECT_EQ(Pixel(x, 419), kBlack) << x;
                         EXPECT_EQ(Pixel(x, 420), kGreen) << x;
                         EXPECT_EQ(Pixel(x, 659), kGreen) << x;
                         EXPECT_EQ(Pixel(x, 660), kBlack) << x;
                     }
                     EXPECT_EQ(Pixel(480, 0), kBlack);
                     EXPECT_EQ(Pixel(480, 1079), kBlack);
                 });
}

TEST_F(CollagePaint, ThreeStarsSitCentredJustAboveTheBand) {
    PaintAndLook(
        [&] {
            ASSERT_EQ(metadataBandHeight, 0) << "the star pictures need no text line";
            Q(4)->picture.SetBitmap(SolidSurface(640, 360, kBlue));
            Q(4)->info.rating = 3;
            Q(3)->picture.SetBitmap(SolidSurface(640, 360, kBlue));
            Q(3)->info.rating = 9;  // no rating a file should hold
        },
        [&] {
            for (int x = 0; x < 640; ++x) ASSERT_EQ(Pixel(x, 712), kBlue) << "a star for a rating of 9 at " << x;
            // 11 pixels wide every 20, around the middle of the quadrant (x = 960),
            // rows 708 to 717: from 12 to 2 pixels above the band at 720.
            for (int left : {935, 955, 975}) {
                EXPECT_TRUE(Golden(Pixel(left + 5, 712))) << left;
                EXPECT_NE(Pixel(left + 5, 708), kBlue) << "the top point of the star at " << left;
                EXPECT_EQ(Pixel(left + 5, 707), kBlue) << left;
                EXPECT_EQ(Pixel(left + 5, 718), kBlue) << left;
            }
            for (int x : {920, 934, 950, 970, 986, 1000}) EXPECT_EQ(Pixel(x, 712), kBlue) << x;
        });
}

TEST_F(CollagePaint, WithoutTheStarPictureTheBandShowsStarTextAtItsLeft) {
    starImage = std::make_unique<PictureHolder>();  // made once per process: this one stays empty
    PaintAndLook(
        [&] {
            ASSERT_EQ(metadataBandHeight, 12);
            Q(4)->picture.SetBitmap(SolidSurface(640, 348, kBlue));
            Q(4)->info.rating = 3;
        },
        [&] {
            Reference reference(1920, 1080);
            reference.Text("* * *", 642, 708);
            auto [differing, lit] = Compare(window, reference, Rect{640, 708, 1280, 720});
            EXPECT_EQ(differing, 0);
            EXPECT_GT(lit, 10) << "the stars are there";
            EXPECT_EQ(Pixel(960, 707), kBlue) << "the picture ends where the band begins";
        });
}

TEST_F(CollagePaint, PathsUnderThePicturesOrDocumentsFolderAreShortenedToItsName) {
    SetPreference("Lines of metadata", "2");
    PaintAndLook(
        [&] {
            myPicturesPath = "/srv/photos/My Pictures";
            myPicturesName = "My Pictures";
            myDocumentsPath = "/home/ann/Documents";
            myDocumentsName = "Documents";
            ASSERT_EQ(metadataBandHeight, 12) << "one text line: the stars are pictures";
            Q(3)->path = "/srv/photos/My Pictures/2008/a.jpg";
            Q(4)->path = "/home/ann/Documents/notes/b.png";
            Q(5)->path = "/srv/photos/c.png";
            Q(6)->path = "/srv/photos/My Pictures 2/d.png";
        },
        [&] {
            Reference reference(1920, 1080);
            reference.Text("My Pictures/2008/a.jpg", 2, 707);
            reference.Text("Documents/notes/b.png", 642, 707);
            reference.Text("/srv/photos/c.png", 1282, 707);
            reference.Text("My Pictures 2/d.png", 2, 1067);
            for (Rect band : {Rect{0, 708, 1920, 720}, Rect{0, 1068, 640, 1080}}) {
                auto [differing, lit] = Compare(window, reference, band);
                EXPECT_EQ(differing, 0) << band.top;
                EXPECT_GT(lit, 100) << band.top;
            }
        });
}

TEST_F(CollagePaint, TransparentPartsOfAPictureShowBlackNotThePictureBefore) {
    PaintAndLook([&] { Q(4)->picture.SetBitmap(SolidSurface(640, 360, kGreen)); },
                 [&] {
                     ASSERT_EQ(Pixel(960, 540), kGreen);
                     // Opaque blue on the left, half-covering red in the middle, nothing on the right.
                     cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 640, 360);
                     cairo_t* cr = cairo_create(s);
                     cairo_set_source_rgb(cr, 0, 0, 1);
                     cairo_rectangle(cr, 0, 0, 200, 360);
                     cairo_fill(cr);
                     cairo_set_source_rgba(cr, 1, 0, 0, 0.5);
                     cairo_rectangle(cr, 200, 0, 200, 360);
                     cairo_fill(cr);
                     cairo_destroy(cr);
                     Q(4)->picture.SetBitmap(s);
                     Rect r = RectOf(*Q(4));
                     InvalidateRect(window, &r, false);
                     SendMessage(window, WM_PAINT, 0, 0);
                     EXPECT_EQ(Pixel(740, 540), kBlue);
                     EXPECT_EQ(Pixel(940, 540) & 0x00FFFF, 0u) << "half red over black, no green";
                     EXPECT_GE(Red(Pixel(940, 540)), 0x7F);
                     EXPECT_EQ(Pixel(1140, 540), kBlack);
                 });
}

TEST_F(CollagePaint, MenuFrameShowsOnlyWhileTheMenuIsOpen) {
    PaintAndLook(
        [&] {
            Q(4)->picture.SetBitmap(SolidSurface(640, 360, kBlue));
            Q(4)->menuOpen = true;
        },
        [&] {
            for (auto [x, y] : {std::pair{640, 500}, {1279, 500}, {900, 360}, {900, 719}})
                EXPECT_EQ(Pixel(x, y), 0xFFFF00u) << x << "," << y;
            EXPECT_EQ(Pixel(641, 500), kBlue);
            Q(4)->menuOpen = false;
            Rect r = RectOf(*Q(4));
            InvalidateRect(window, &r, false);
            SendMessage(window, WM_PAINT, 0, 0);
            EXPECT_EQ(Pixel(640, 500), kBlue);
        });
}

// Quadrants painted by each WM_PAINT, from the debug log, with the number of
// the WM_TIMER before it (0 for paints before the first tick).
std::vector<std::pair<int, int>> PaintsAfterTicks(const std::filesystem::path& folder) {
    std::vector<std::pair<int, int>> paints;
    for (auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("VeltraneSSDebug", 0) != 0 || name.find("Spool") != std::string::npos) continue;
        std::istringstream log(ReadWhole(entry.path()));
        const std::regex painted("0x([0-9a-f]+)  quadrants painted");
        int tick = 0;
        std::smatch m;
        for (std::string line; std::getline(log, line);) {
            if (line == "0x113 Begin ScreenSaverProcW") ++tick;
            if (std::regex_match(line, m, painted)) paints.emplace_back(tick, std::stoi(m[1], nullptr, 16));
        }
    }
    return paints;
}

TEST_F(CollagePaint, EachTickRepaintsOnlyTheQuadrantsItFilled) {
    SetPreference("DebugOutput", "1");
    SetPreference("Timer", "0");
    SetPreference("UseRankingForDisplay", "0");
    SetPreference("ImagesPerScreen", "16");
    UsePictures(std::vector<std::pair<int, int>>(24, {160, 90}));
    Open();
    // Per tick: whether the quadrant it changed was enlarged before and after it.
    struct Step {
        Quadrant* q;
        bool enlargedBefore, enlargedAfter = false;
    };
    std::vector<Step> steps;
    headless::ObserveDispatch([&](const MSG& m) {
        if (!steps.empty()) steps.back().enlargedAfter = steps.back().q->enlarged;
        if (m.message == WM_TIMER && !quadrantList.empty()) {
            Quadrant* q = quadrantList[currentQuadrant].get();
            steps.push_back(Step{q, q->enlarged});
        }
    });
    RunSaver([&](HWND) { After(5000 + 16 + 50 * 300 + 10, [&] { DestroyWindow(window); }); });

    auto paints = PaintsAfterTicks(WorkDir());
    ASSERT_GE(steps.size(), 300u);
    ASSERT_GE(paints.size(), 300u);
    int shrinks = 0, previousTick = 0;
    for (auto [tick, count] : paints) {
        ASSERT_GE(tick, 1) << "the splash is not counted";
        ASSERT_LE(static_cast<std::size_t>(tick), steps.size());
        EXPECT_GT(tick, previousTick) << "one paint per tick";
        previousTick = tick;
        const Step& step = steps[static_cast<std::size_t>(tick - 1)];
        // A shrink without growing again refills the quadrant and the three it uncovered.
        bool shrunk = step.enlargedBefore && !step.enlargedAfter;
        EXPECT_GE(count, 1) << "tick " << tick;
        EXPECT_LE(count, shrunk ? 4 : 1) << "tick " << tick;
        shrinks += shrunk && count == 4;
    }
    EXPECT_GT(shrinks, 0) << "some steps shrank a quadrant back and painted all four";
}

}  // namespace

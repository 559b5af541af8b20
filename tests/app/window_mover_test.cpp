// Moving and resizing the borderless window: the zones of its edges, and the whole
// program driven with the mouse on its automation interface.
#include "app/window_mover.h"

#include <gtest/gtest.h>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"

namespace app {

namespace {

using platform::Point;
using platform::Rect;

TEST(WindowZoneTest, TheEightZonesInTheirOrderWithStrictEdges) {
  const Rect w{100, 100, 500, 400};  // l+5 = 105, r-5 = 495, t+5 = 105, b-5 = 395
  EXPECT_EQ(CWindowMover::ZoneAt(w, {101, 101}), CWindowMover::kTopLeft);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {300, 104}), CWindowMover::kTop);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {499, 101}), CWindowMover::kTopRight);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {496, 250}), CWindowMover::kRight);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {499, 399}), CWindowMover::kBottomRight);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {300, 396}), CWindowMover::kBottom);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {101, 399}), CWindowMover::kBottomLeft);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {104, 250}), CWindowMover::kLeft);
  // Exactly 5 pixels inside an edge is no zone, and neither is the middle.
  EXPECT_EQ(CWindowMover::ZoneAt(w, {105, 250}), CWindowMover::kNone);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {495, 250}), CWindowMover::kNone);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {300, 105}), CWindowMover::kNone);
  EXPECT_EQ(CWindowMover::ZoneAt(w, {300, 250}), CWindowMover::kNone);
  // Where an edge zone meets the corner's row, the strict tests leave a gap.
  EXPECT_EQ(CWindowMover::ZoneAt(w, {105, 101}), CWindowMover::kNone);
  EXPECT_EQ(CWindowMover::CursorOf(CWindowMover::kTopLeft), platform::Cursor::kDiagonalNwSe);
  EXPECT_EQ(CWindowMover::CursorOf(CWindowMover::kBottomLeft), platform::Cursor::kDiagonalNeSw);
  EXPECT_EQ(CWindowMover::CursorOf(CWindowMover::kLeft), platform::Cursor::kHorizontal);
  EXPECT_EQ(CWindowMover::CursorOf(CWindowMover::kBottom), platform::Cursor::kVertical);
}

// A test double of the main window: it only keeps its rectangle and what it was told.
class RecordingWindow : public platform::MainWindow {
 public:
  void SetEvents(platform::WindowEvents*) override {}
  Rect WorkArea() const override { return Rect{0, 0, 1280, 1024}; }
  Rect GetRect() const override { return rect; }
  void Move(const Rect& r) override {
    rect = r;
    ++moves;
  }
  void Show() override {}
  void Minimize() override {}
  void SetPlayerRect(const Rect&) override {}
  void SetCursor(platform::Cursor c) override {
    cursor = c;
    ++cursor_sets;
  }
  void CaptureMouse(bool capture) override { captured = capture; }
  Point CursorPosition() const override { return {}; }
  Rect rect{100, 100, 500, 400};
  int moves = 0;
  platform::Cursor cursor = platform::Cursor::kArrow;
  int cursor_sets = 0;
  bool captured = false;
};

TEST(WindowMoverTest, OnlyTheRightPressIsKeptFromThePlayerAndMovesIgnoreTheButton) {
  using platform::MouseAction;
  using platform::MouseButton;
  RecordingWindow window;
  int sizes = 0;
  CWindowMover mover(window, [&](int, int) { ++sizes; });
  EXPECT_TRUE(mover.OnMouse(MouseAction::kDown, MouseButton::kRight, {300, 120}));
  EXPECT_FALSE(mover.OnMouse(MouseAction::kUp, MouseButton::kRight, {300, 120}));
  EXPECT_EQ(sizes, 0);
  // A move names the right button: it still shows the zone's cursor.
  EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kRight, {496, 250}));
  EXPECT_EQ(window.cursor, platform::Cursor::kHorizontal);
  // A left press captures the mouse, a drag moves the band, the release lets go.
  EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {300, 120}));
  EXPECT_FALSE(mover.OnMouse(MouseAction::kDown, MouseButton::kLeft, {300, 120}));
  EXPECT_TRUE(window.captured);
  EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {310, 125}));
  EXPECT_EQ(window.rect, (Rect{110, 105, 510, 405}));
  EXPECT_FALSE(mover.OnMouse(MouseAction::kUp, MouseButton::kLeft, {310, 125}));
  EXPECT_FALSE(window.captured);
  EXPECT_EQ(sizes, 1);
}

// The player shows cursors of its own (a hand over a card): the window's cursor is set
// only when it changes, never on a move that stays outside the zones or in one zone.
TEST(WindowMoverTest, TheCursorIsSetOnlyWhenItChanges) {
  using platform::Cursor;
  using platform::MouseAction;
  using platform::MouseButton;
  RecordingWindow window;
  CWindowMover mover(window, [](int, int) {});
  for (int x : {300, 310, 320})
    EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {x, 250}));
  EXPECT_EQ(window.cursor_sets, 0);
  for (int y : {250, 260, 270})
    EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {497, y}));
  EXPECT_EQ(window.cursor, Cursor::kHorizontal);
  EXPECT_EQ(window.cursor_sets, 1);
  // Leaving the zone gives the player its own cursor back, once.
  for (int x : {400, 410})
    EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {x, 250}));
  EXPECT_EQ(window.cursor, Cursor::kArrow);
  EXPECT_EQ(window.cursor_sets, 2);
  // A drag of the band outside the zones, and its release, set nothing either.
  EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {410, 150}));
  EXPECT_FALSE(mover.OnMouse(MouseAction::kDown, MouseButton::kLeft, {410, 150}));
  EXPECT_FALSE(mover.OnMouse(MouseAction::kMove, MouseButton::kLeft, {420, 160}));
  EXPECT_FALSE(mover.OnMouse(MouseAction::kUp, MouseButton::kLeft, {420, 160}));
  EXPECT_EQ(window.cursor_sets, 2);
  EXPECT_EQ(window.rect, (Rect{110, 110, 510, 410}));
}

std::string Mouse(const char* event, int x, int y, const char* button = "left") {
  return Json{{"mouse", {{"event", event}, {"button", button}, {"x", x}, {"y", y}}}}.dump();
}
std::string Revert() { return Json{{"fscommand", "win"}, {"args", "revert"}}.dump(); }

class WindowMouseTest : public ::testing::Test {
 protected:
  // The program with its window at the normal size: (128, 128) to (1152, 896).
  LumoraRun Run(std::vector<std::string> script) {
    script.insert(script.begin(), Revert());
    LumoraOptions o;
    o.cwd = home_.path();
    o.env = {{"XDG_DATA_HOME", home_ / "data"}};
    LumoraRun run = RunLumora(o, script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    return run;
  }
  // The window events after the revert, and the events after the revert's variables.
  static std::vector<Json> Moves(const LumoraRun& run) {
    auto all = run.All("window");
    return std::vector<Json>(all.begin() + 2, all.end());
  }
  static std::vector<std::string> Cursors(const LumoraRun& run) {
    std::vector<std::string> names;
    for (const Json& c : run.All("cursor")) names.push_back(c);
    return names;
  }
  // The StageX/StageY values set after the revert.
  static std::vector<std::string> StageSizes(const LumoraRun& run) {
    std::vector<std::string> sizes;
    int seen = 0;
    for (const Json& v : run.All("setVariable"))
      if (v["name"] == "StageX" && ++seen > 2) sizes.push_back(v["value"]);
    return sizes;
  }
  TempDir home_;
};

TEST_F(WindowMouseTest, APressInTheTopBandMovesTheWindowWithoutResizingIt) {
  LumoraRun run = Run({Mouse("move", 600, 168), Mouse("down", 600, 168), Mouse("move", 630, 188),
                       Mouse("up", 630, 188)});
  auto moves = Moves(run);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0],
            (Json{{"x", 158}, {"y", 148}, {"width", 1024}, {"height", 768}, {"state", "normal"}}));
  EXPECT_EQ(StageSizes(run), (std::vector<std::string>{"1024"}));
  EXPECT_TRUE(Cursors(run).empty());  // no zone was crossed
}

TEST_F(WindowMouseTest, APressBelowTheBandMovesNothingButTheSizeIsStillSent) {
  LumoraRun run = Run({Mouse("move", 600, 228), Mouse("down", 600, 228), Mouse("move", 700, 300),
                       Mouse("up", 700, 300)});
  EXPECT_TRUE(Moves(run).empty());
  EXPECT_EQ(StageSizes(run), (std::vector<std::string>{"1024"}));
  EXPECT_EQ(run.Variable("StageY"), "768");
}

TEST_F(WindowMouseTest, EdgesFollowTheMouseButNeverPassEachOther) {
  // The right edge dragged left past the left edge stops there: width 0.
  LumoraRun run = Run({Mouse("move", 1150, 500), Mouse("down", 1150, 500), Mouse("move", 1100, 500),
                       Mouse("move", 100, 500), Mouse("up", 100, 500)});
  auto moves = Moves(run);
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0]["width"], 974);
  EXPECT_EQ(moves[0]["x"], 128);
  EXPECT_EQ(moves[1]["width"], 0);
  EXPECT_EQ(moves[1]["x"], 128);
  EXPECT_EQ(run.Variable("StageX"), "0");
  EXPECT_EQ(run.Variable("StageY"), "768");
  // The cursor shows the horizontal arrows throughout: after the drag it stands in the
  // left edge's zone of the narrowed window.
  EXPECT_EQ(Cursors(run), (std::vector<std::string>{"ew-resize"}));
}

TEST_F(WindowMouseTest, ACornerInTheTopBandResizesRatherThanMoves) {
  // Top-left corner: both the left and the top edge follow.
  LumoraRun run = Run({Mouse("move", 130, 130), Mouse("down", 130, 130), Mouse("move", 110, 120),
                       Mouse("up", 110, 120)});
  auto moves = Moves(run);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0],
            (Json{{"x", 108}, {"y", 118}, {"width", 1044}, {"height", 778}, {"state", "normal"}}));
  EXPECT_EQ(Cursors(run).front(), "nwse-resize");
}

TEST_F(WindowMouseTest, CursorsFollowTheZonesAndTheRightButtonDoesNothing) {
  LumoraRun run = Run({Mouse("move", 600, 130), Mouse("move", 1150, 130), Mouse("move", 130, 894),
                       Mouse("move", 133, 500),  // x = l+5
                       Mouse("down", 600, 140, "right"), Mouse("move", 700, 150),
                       Mouse("up", 700, 150, "right")});
  // Top, top-right, bottom-left (the same arrows: no change reported), then none.
  EXPECT_EQ(Cursors(run), (std::vector<std::string>{"ns-resize", "nesw-resize", "default"}));
  EXPECT_TRUE(Moves(run).empty());
  EXPECT_TRUE(StageSizes(run).empty());
  EXPECT_TRUE(run.All("dialog").empty());
}

TEST_F(WindowMouseTest, CoordinatesOutOfRangeAreRefused) {
  // An unsigned value far past the range must not wrap into it.
  LumoraRun run = Run({Mouse("move", 40000, 10),
                       Json{{"mouse", {{"event", "move"}, {"x", 1e300}, {"y", 1}}}}.dump(),
                       R"({"mouse":{"event":"move","x":18446744073709551615,"y":1}})"});
  EXPECT_EQ(run.All("error").size(), 3u);
  EXPECT_TRUE(run.All("cursor").empty());
}

}  // namespace

}  // namespace app

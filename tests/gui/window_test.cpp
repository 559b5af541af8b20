// The real window under a (virtual) display: the GTK face with its WebKit player.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"
#include "../support/vendor_process.h"
#include "app/lumora_app.h"
#include "app/lumora_dlg.h"
#include "app/program_options.h"
#include "base/ansi.h"
#include "gui_support.h"
#include "platform/gtk/gtk_window.h"
#include "platform/platform.h"

using app::CLumoraApp;
using app::CLumoraDlg;
using app::DeploymentSettings;
using app::ProgramOptions;
using app::ReadProgramOptions;

namespace {

WebKitWebView* FindWebView(GtkWidget* widget) {
  if (WEBKIT_IS_WEB_VIEW(widget)) return WEBKIT_WEB_VIEW(widget);
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  WebKitWebView* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* it = children; it && !found; it = it->next) found = FindWebView(GTK_WIDGET(it->data));
  g_list_free(children);
  return found;
}

GtkWindow* FindMainWindow() {
  GtkWindow* found = nullptr;
  GList* tops = gtk_window_list_toplevels();
  for (GList* it = tops; it; it = it->next)
    if (g_strcmp0(gtk_window_get_title(GTK_WINDOW(it->data)), "Lumora") == 0)
      found = GTK_WINDOW(it->data);
  g_list_free(tops);
  return found;
}

// Evaluates |script| in the page and returns its value as text.
std::string Eval(WebKitWebView* view, const std::string& script) {
  struct Result {
    bool done = false;
    std::string value;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* object, GAsyncResult* res, gpointer data) {
        auto* r = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* v =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), res, &error);
        if (v != nullptr) {
          char* s = jsc_value_to_string(v);
          r->value = s;
          g_free(s);
          g_object_unref(v);
        } else {
          r->value = std::string("<error: ") + error->message + ">";
          g_error_free(error);
        }
        r->done = true;
      },
      &result);
  SpinUntil([&] { return result.done; });
  return result.value;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display (run under xvfb-run)";
    setenv("XDG_DATA_HOME", (home_ / "data").c_str(), 1);
    // The program folder is the current one: a folder of the test's, never build/.
    home_.MakeDir("prog");
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(home_ / "prog");
    int argc = 0;
    char** argv = nullptr;
    const base::Status made = platform::CreateGtkPlatform(&argc, &argv, &face_);
    ASSERT_TRUE(made.ok()) << made.ToString();
    // Nothing listens on port 1: the update window's fetch fails at once.
    DeploymentSettings nowhere;
    nowhere.shop_host = nowhere.login_host = "127.0.0.1:1";
    app_ = std::make_unique<CLumoraApp>(nowhere);
    dialog_ = std::make_unique<CLumoraDlg>(*app_, *face_);
    dialog_->OnInitDialog();
    window_ = FindMainWindow();
    ASSERT_NE(window_, nullptr);
    view_ = FindWebView(GTK_WIDGET(window_));
    ASSERT_NE(view_, nullptr);
    // The page has loaded and received its start-up variables.
    ASSERT_TRUE(SpinUntil([&] {
      return !webkit_web_view_is_loading(view_) &&
             Eval(view_, "window.lumora ? lumora.get('StageY') : ''") != "";
    })) << "the movie did not load";
  }
  void TearDown() override {
    dialog_.reset();
    face_.reset();
    if (!old_cwd_.empty()) std::filesystem::current_path(old_cwd_);
  }

  TempDir home_;
  std::filesystem::path old_cwd_;
  std::unique_ptr<platform::Platform> face_;
  std::unique_ptr<CLumoraApp> app_;
  std::unique_ptr<CLumoraDlg> dialog_;
  GtkWindow* window_ = nullptr;
  WebKitWebView* view_ = nullptr;
};

TEST_F(WindowTest, BorderlessOverTheWorkAreaWithTheStartUpVariables) {
  EXPECT_FALSE(gtk_window_get_decorated(window_));
  GdkRectangle work;
  gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &work);
  ASSERT_TRUE(SpinUntil([&] {
    int w, h, x, y;
    gtk_window_get_size(window_, &w, &h);
    gtk_window_get_position(window_, &x, &y);
    return w == work.width && h == work.height && x == work.x && y == work.y;
  })) << "the window does not cover the work area";
  EXPECT_EQ(Eval(view_, "lumora.get('StageX')"), std::to_string(work.width));
  EXPECT_EQ(Eval(view_, "lumora.get('FirstRun')"), "true");
  EXPECT_EQ(Eval(view_, "lumora.get('MyAppDataDir')"), home_ / "data/vellari/");
  // The page lays itself out by them, and welcomes a first run; with no catalogue yet it
  // shows the shelf being prepared, or, once the update window found no server here, that
  // preparing it failed: never a page that failed to load.
  EXPECT_EQ(Eval(view_, "String(Lumora.state.layout.width)"), std::to_string(work.width));
  EXPECT_EQ(Eval(view_, "String(document.getElementById('welcome').hidden)"), "false");
  std::string empty_title;
  EXPECT_TRUE(SpinUntil([&] {
    empty_title = Eval(view_, "document.getElementById('empty-title').textContent");
    return empty_title == "正在准备书架" || empty_title == "书架准备失败";
  })) << empty_title;
}

// Runs |script| (which calls done(value)) in the page and waits for its value.
std::string EvalAsync(WebKitWebView* view, const std::string& script) {
  Eval(view, "window.__r = undefined; (function(done){" + script +
                 "})(function(v){ window.__r = String(v); }); 1");
  std::string value;
  SpinUntil([&] {
    value = Eval(view, "window.__r === undefined ? '\u0001' : window.__r");
    return value != std::string(1, '\x01');
  });
  return value;
}

TEST_F(WindowTest, TheMovieShowsTheCataloguesOfTheDataFolderAndReadsNothingElse) {
  // The sample catalogues, in GB2312, where the movie looks for them.
  const std::string sample = std::string(LUMORA_SOURCE_DIR) + "/res/sample/";
  for (const char* name : {"book/book1.xml", "maga/maga1.xml", "local/local1.xml"}) {
    std::ifstream in(sample + name, std::ios::binary);
    home_.Write(
        std::string("data/vellari/public/") + name,
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  }
  home_.Write("outside.xml", "<secret/>");
  Eval(view_, "Lumora.closeTop(); Lumora.showView('book'); 1");
  ASSERT_TRUE(SpinUntil([&] {
    return Eval(view_, "String(document.querySelectorAll('#spacer .card').length)") != "0";
  })) << Eval(view_, "document.getElementById('empty').textContent");
  EXPECT_EQ(Eval(view_, "document.getElementById('view-title').textContent"), "图书");
  // The titles decode from GB2312 and stay text.
  const std::string titles = Eval(
      view_,
      "Array.from(document.querySelectorAll('#spacer .ctitle')).map(e => e.textContent).join('|')");
  EXPECT_NE(titles.find("山"), std::string::npos) << titles;
  // A search sends the field texts the host reads.
  Eval(view_, "Lumora.search.run('山'); 1");
  EXPECT_EQ(Eval(view_, "JSON.stringify(Lumora.sent[Lumora.sent.length-1])"),
            "[\"search\",\"file=search.xml|key=山|type=杂志&图书&音频&程序&视频&本地文件\"]");
  // Nothing outside the two folders is served.
  for (const char* path : {"data/../../outside.xml", "data/%2e%2e/%2e%2e/outside.xml",
                           "data/..%2f..%2foutside.xml", "current/../outside.xml"}) {
    EXPECT_EQ(
        EvalAsync(view_, std::string("var x=new XMLHttpRequest(); x.open('GET','lumora://movie/") +
                             path +
                             "'); x.onload=()=>done('read ' + x.status + ' ' + x.responseText);"
                             "x.onerror=()=>done('refused'); x.send();"),
        "refused")
        << path;
  }
  EXPECT_EQ(
      EvalAsync(
          view_,
          "var x=new XMLHttpRequest(); x.open('GET','lumora://movie/data/public/local/local1.xml');"
          "x.onload=()=>done(x.responseXML ? x.responseXML.documentElement.getAttribute('分类') : "
          "'no XML');"
          "x.onerror=()=>done('refused'); x.send();"),
      "本地文件");
  // A photograph for a person to look at.
  g_usleep(300000);
  SpinUntil([] { return false; }, 1.0);
  const std::string shot = std::string(LUMORA_BINARY_DIR) + "/movie-book.png";
  EXPECT_EQ(std::system(("import -window root " + shot).c_str()), 0);
}

TEST_F(WindowTest, PageCommandReachesTheHostAndTheHostAnswersThePage) {
  Eval(view_, "document.getElementById('win-revert').click(); 1");
  ASSERT_TRUE(SpinUntil([&] { return Eval(view_, "lumora.get('StageX')") == "1024"; }));
  EXPECT_EQ(Eval(view_, "lumora.get('StageY')"), "768");
  platform::Rect r = face_->window().GetRect();
  EXPECT_EQ(r.Width(), 1024);
  EXPECT_EQ(r.Height(), 768);
  EXPECT_TRUE(SpinUntil([&] {
    int w, h;
    gtk_window_get_size(window_, &w, &h);
    return w == 1024 && h == 768;
  }));
  // Chinese text crosses both ways intact: the movie sets a variable, the host reads it.
  Eval(view_, "lumora.set('UserName', '读者 😀'); 1");
  ASSERT_TRUE(SpinUntil([&] { return !dialog_->flash().GetVariable("UserName").empty(); }));
  std::string utf8;
  ASSERT_TRUE(ansi::ToUtf8(dialog_->flash().GetVariable("UserName"), &utf8));
  EXPECT_EQ(utf8, "读者 😀");
  dialog_->flash().SetVariable(ansi::FromUtf8Lossy("书名"), ansi::FromUtf8Lossy("《山海》"));
  EXPECT_TRUE(SpinUntil([&] { return Eval(view_, "lumora.get('书名')") == "《山海》"; }));
}

// Once the sign-in has gone to the host, the page keeps its password nowhere: not in the
// field, not in the commands it logs. The host is not asked here: the page's bridge
// records what it would post.
TEST_F(WindowTest, ThePageForgetsThePasswordOnceSent) {
  Eval(view_,
       "window.__posted = []; lumora.fscommand = function (c, a) { __posted.push([c, a]); };"
       "Lumora.closeTop(); Lumora.account.open();"
       "document.getElementById('signin-name').value = 'reader';"
       "document.getElementById('signin-pass').value = 'pw-7Qx';"
       "document.getElementById('signin-show').click();"
       "document.getElementById('signin-submit').click(); 1");
  EXPECT_EQ(Eval(view_, "JSON.stringify(__posted)"),
            R"([["logon","username=reader|password=pw-7Qx|remember=0|auto=0"]])");
  const std::string held =
      "JSON.stringify(Lumora.sent) + Array.from(document.querySelectorAll('input'),"
      " i => i.value).join('|') + document.documentElement.outerHTML";
  EXPECT_EQ(Eval(view_, "String((" + held + ").indexOf('pw-7Qx'))"), "-1");
  EXPECT_EQ(Eval(view_, "JSON.stringify(Lumora.sent[Lumora.sent.length - 1])"), R"(["logon",""])");
  EXPECT_EQ(Eval(view_, "document.getElementById('signin-pass').type"), "password");
  // A refusal asks for the password again, with the name kept.
  Eval(view_, "lumora.setVariable('UserPass', 'false'); 1");
  EXPECT_EQ(Eval(view_, "document.getElementById('signin-alert').textContent"), "用户名或密码错误");
  EXPECT_EQ(Eval(view_, "document.getElementById('signin-name').value"), "reader");
  EXPECT_EQ(Eval(view_, "String(document.activeElement.id)"), "signin-pass");
}

TEST_F(WindowTest, ScreenshotShowsTheChineseTitle) {
  // The first run's welcome dims the page: close it, let the page paint, then
  // photograph the screen.
  Eval(view_, "Lumora.closeTop(); 1");
  g_usleep(500000);
  SpinUntil([] { return false; }, 1.0);
  std::string rect =
      Eval(view_,
           "(function(){var r=document.getElementById('title').getBoundingClientRect();"
           "return [Math.round(r.left),Math.round(r.top),Math.round(r.width),"
           "Math.round(r.height)].join(' ');})()");
  int x, y, w, h;
  ASSERT_EQ(std::sscanf(rect.c_str(), "%d %d %d %d", &x, &y, &w, &h), 4) << rect;
  ASSERT_GT(w, 0);
  const std::string shot = home_ / "shot.png";
  const std::string raw = home_ / "title.rgb";
  ASSERT_EQ(std::system(("import -window root " + shot).c_str()), 0);
  char geometry[64];
  std::snprintf(geometry, sizeof geometry, "%dx%d+%d+%d", w, h, x, y);
  ASSERT_EQ(
      std::system(("convert " + shot + " -crop " + geometry + " -depth 8 rgb:" + raw).c_str()), 0);
  std::ifstream in(raw, std::ios::binary);
  std::string pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(pixels.size(), static_cast<std::size_t>(w * h * 3));
  // The band is dark brown; glyphs are light. Without a Chinese font the title's two
  // Chinese characters would be blank, leaving only the Latin letters.
  int light_left = 0, light_right = 0;
  for (int py = 0; py < h; ++py)
    for (int px = 0; px < w; ++px) {
      auto p = reinterpret_cast<const unsigned char*>(pixels.data()) + (py * w + px) * 3;
      if (p[0] > 200 && p[1] > 200 && p[2] > 180) (px < w * 6 / 10 ? light_left : light_right)++;
    }
  EXPECT_GT(light_left, 20) << "no Latin text painted";
  EXPECT_GT(light_right, 40) << "no Chinese glyphs painted";
}

// The texts of the visible widgets below |widget| of type |type|, in order.
std::vector<std::string> Texts(GtkWidget* widget, GType type) {
  std::vector<std::string> texts;
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type) && gtk_widget_get_visible(widget)) {
    if (GTK_IS_LABEL(widget)) texts.push_back(gtk_label_get_text(GTK_LABEL(widget)));
    if (GTK_IS_BUTTON(widget)) texts.push_back(gtk_button_get_label(GTK_BUTTON(widget)));
  }
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* it = children; it != nullptr; it = it->next)
      for (std::string& t : Texts(GTK_WIDGET(it->data), type)) texts.push_back(std::move(t));
    g_list_free(children);
  }
  return texts;
}

TEST_F(WindowTest, F2BringsTheUpdateWindowForwardWithItsLog) {
  GtkWindow* updates = nullptr;
  GList* tops = gtk_window_list_toplevels();
  for (GList* it = tops; it != nullptr; it = it->next)
    if (g_strcmp0(gtk_window_get_title(GTK_WINDOW(it->data)), "更新") == 0)
      updates = GTK_WINDOW(it->data);
  g_list_free(tops);
  ASSERT_NE(updates, nullptr);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(updates)));  // hidden from the start
  // F2 pressed in the main window, as the desktop delivers it.
  GdkEvent* key = gdk_event_new(GDK_KEY_PRESS);
  key->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window_))));
  key->key.keyval = GDK_KEY_F2;
  gdk_event_set_device(
      key, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
  gtk_widget_event(GTK_WIDGET(window_), key);
  gdk_event_free(key);
  ASSERT_TRUE(SpinUntil([&] { return gtk_widget_get_visible(GTK_WIDGET(updates)) != 0; }));
  // The list of servers could not be fetched: both steps are in the log, with times.
  ASSERT_TRUE(SpinUntil([&] {
    std::vector<std::string> rows = Texts(GTK_WIDGET(updates), GTK_TYPE_LABEL);
    return std::find(rows.begin(), rows.end(), "更新总进度") != rows.end() && rows.size() >= 5 &&
           rows[1].find("获得服务器列表失败") != std::string::npos;
  })) << ::testing::PrintToString(Texts(GTK_WIDGET(updates), GTK_TYPE_LABEL));
  std::vector<std::string> rows = Texts(GTK_WIDGET(updates), GTK_TYPE_LABEL);
  EXPECT_NE(rows[0].find("正在连接获取服务器列表"), std::string::npos);
  EXPECT_EQ(rows[0][2], ':');
  // "更新" stays hidden; the other two buttons show.
  std::vector<std::string> buttons = Texts(GTK_WIDGET(updates), GTK_TYPE_BUTTON);
  EXPECT_NE(std::find(buttons.begin(), buttons.end(), "手动更新"), buttons.end());
  EXPECT_NE(std::find(buttons.begin(), buttons.end(), "关闭"), buttons.end());
  EXPECT_EQ(std::find(buttons.begin(), buttons.end(), "更新"), buttons.end());
}

TEST_F(WindowTest, TheWindowCarriesTheProgramIconInEverySize) {
  GList* icons = gtk_window_get_icon_list(window_);
  std::vector<int> sizes;
  for (GList* it = icons; it != nullptr; it = it->next) {
    GdkPixbuf* icon = GDK_PIXBUF(it->data);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), gdk_pixbuf_get_height(icon));
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(icon));
    sizes.push_back(gdk_pixbuf_get_width(icon));
  }
  g_list_free(icons);
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
}

// The player sets cursors of its own on its window (the web view: a hand over a card, on
// every move of the mouse). The window shows a resize cursor only over a zone, keeps it
// there while the player sets its own, and gives the player's latest back after; outside
// the zones it never replaces the player's cursor. A drawing area stands in for the web
// view here: it has a window of its own, on which the test sets the player's cursors.
TEST(GtkWindowCursorTest, ResizeCursorsShowOverTheZonesOnlyAndThePlayersComeBack) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display (run under xvfb-run)";
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  GtkWidget* player = GTK_WIDGET(g_object_ref_sink(gtk_drawing_area_new()));
  {
    platform::GtkMainWindow window(player);
    window.Move(platform::Rect{0, 0, 400, 300});
    window.SetPlayerRect(platform::Rect{0, 0, 400, 300});
    window.Show();
    ASSERT_TRUE(SpinUntil([&] { return gtk_widget_get_realized(player) != 0; }));
    GdkWindow* own = gtk_widget_get_window(player);
    GdkDisplay* display = gdk_window_get_display(own);
    g_autoptr(GdkCursor) hand = gdk_cursor_new_from_name(display, "pointer");
    g_autoptr(GdkCursor) text = gdk_cursor_new_from_name(display, "text");
    g_autoptr(GdkCursor) arrows = gdk_cursor_new_from_name(display, "ew-resize");
    ASSERT_TRUE(hand && text && arrows);
    gdk_window_set_cursor(own, hand);
    window.SetCursor(platform::Cursor::kArrow);  // no zone: the player's hand stays
    EXPECT_EQ(gdk_window_get_cursor(own), hand);
    window.SetCursor(platform::Cursor::kHorizontal);
    EXPECT_EQ(gdk_window_get_cursor(own), arrows);
    gdk_window_set_cursor(own, text);  // the player moves on over the zone
    EXPECT_EQ(gdk_window_get_cursor(own), arrows);
    window.SetCursor(platform::Cursor::kArrow);
    EXPECT_EQ(gdk_window_get_cursor(own), text);
    gdk_window_set_cursor(own, hand);
    EXPECT_EQ(gdk_window_get_cursor(own), hand);
  }
  g_object_unref(player);
}

// The desktop toolkit's own options are taken out before the program reads its command
// line: "--display" and its value never become the server-list URL.
TEST(ProgramOptionsTest, DesktopOptionsAreTakenBeforeTheCommandLine) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  // The toolkit reads its options only when it first starts, and other tests of this
  // program may have started it already: the check runs in a fresh copy of this test
  // program, which runs just this test.
  if (g_getenv("LUMORA_FRESH_OPTIONS_TEST") == nullptr) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string command = "LUMORA_FRESH_OPTIONS_TEST=1 '" + self +
                                "' --gtest_filter=ProgramOptionsTest.* >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return;
  }
  std::string display = g_getenv("DISPLAY");
  std::vector<std::string> words = {"lumora", "--display", display, "http://h/list.txt", "AUTO"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());
  char** args = argv.data();
  ProgramOptions options = ReadProgramOptions(&argc, &args, &platform::CreateGtkPlatform);
  ASSERT_TRUE(options.face) << options.error;
  EXPECT_FALSE(options.headless);
  EXPECT_EQ(options.command_line, "http://h/list.txt AUTO");
  CLumoraApp app{DeploymentSettings{}};
  app.ParseCommandLine(options.command_line);
  EXPECT_EQ(app.server_list_url(), "http://h/list.txt");
  EXPECT_TRUE(app.auto_update());
}

// Runs |command| and returns what it printed.
std::string Output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  char line[4096];
  while (p && fgets(line, sizeof line, p)) out += line;
  if (p) pclose(p);
  return out;
}

TEST(ProgramWindowTest, TheProgramOpensItsBorderlessWindowWithItsIcon) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  TempDir home;
  const std::string program = ProgramCopy();
  const std::string display = g_getenv("DISPLAY");
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    if (chdir(home.path().c_str()) != 0) _exit(126);
    // The display named as the toolkit's own option, as a user may.
    execl(program.c_str(), "lumora", "--display", display.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  GdkRectangle work;
  gdk_init(nullptr, nullptr);
  gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &work);
  const std::string position = "Position: " + std::to_string(work.x) + "," + std::to_string(work.y);
  const std::string size =
      "Geometry: " + std::to_string(work.width) + "x" + std::to_string(work.height);
  const std::string find = "xdotool search --onlyvisible --name '^Lumora$'";
  std::string geometry;
  for (int i = 0; i < 100 && (geometry.find(position) == std::string::npos ||
                              geometry.find(size) == std::string::npos);
       ++i) {
    g_usleep(200000);
    geometry = Output(find + " getwindowgeometry 2>/dev/null");
  }
  // The icon as the window manager reads it from the window.
  const std::string icon = Output("xprop -id $(" + find + " | head -n1) _NET_WM_ICON 2>&1");
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
  EXPECT_NE(geometry.find(position), std::string::npos) << geometry;
  EXPECT_NE(geometry.find(size), std::string::npos) << geometry;
  EXPECT_NE(icon.find("Icon (128 x 128)"), std::string::npos) << icon.substr(0, 200);
  EXPECT_NE(icon.find("Icon (16 x 16)"), std::string::npos) << icon.substr(0, 200);
}

TEST(ProgramWindowTest, TheDesktopRunsOnTheModuleBesideTheProgram) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  TempDir home;
  const std::string program = ProgramCopy();
  const std::string module =
      std::filesystem::path(program).parent_path().string() + "/lumora-desktop.so";
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    if (chdir(home.path().c_str()) != 0) _exit(126);
    execl(program.c_str(), "lumora", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Once the window shows, the module and the web engine it brings are in the process.
  const std::string find = "xdotool search --onlyvisible --name '^Lumora$' 2>/dev/null";
  std::string shown;
  for (int i = 0; i < 100 && shown.empty(); ++i) {
    g_usleep(200000);
    shown = Output(find);
  }
  const std::set<std::string> files = MappedFiles(pid);
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
  EXPECT_FALSE(shown.empty()) << "the window never showed";
  EXPECT_EQ(files.count(module), 1u) << module;
  EXPECT_TRUE(std::any_of(files.begin(), files.end(), [](const std::string& file) {
    return file.find("/libwebkit2gtk-4.1.so") != std::string::npos;
  }));
}

// The window's geometry as "X,Y WxH", from xdotool.
std::string Geometry(const std::string& find) {
  std::string out = Output(find + " getwindowgeometry 2>/dev/null");
  std::size_t at = out.find("Position: "), size = out.find("Geometry: ");
  if (at == std::string::npos || size == std::string::npos) return "";
  at += 10;
  size += 10;
  return out.substr(at, out.find(' ', at) - at) + " " +
         out.substr(size, out.find('\n', size) - size);
}

// Waits until the window's geometry is |expected|; returns the last one seen.
std::string AwaitGeometry(const std::string& find, const std::string& expected) {
  std::string seen;
  for (int i = 0; i < 50 && seen != expected; ++i) {
    g_usleep(100000);
    seen = Geometry(find);
  }
  return seen;
}

TEST(ProgramWindowTest, TheMouseMovesAndResizesTheRealWindow) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  TempDir home;
  const std::string program = ProgramCopy();
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    if (chdir(home.path().c_str()) != 0) _exit(126);
    execl(program.c_str(), "lumora", static_cast<char*>(nullptr));
    _exit(127);
  }
  GdkRectangle work;
  gdk_init(nullptr, nullptr);
  gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &work);
  const std::string find = "xdotool search --onlyvisible --name '^Lumora$'";
  auto at = [](int x, int y, int w, int h) {
    return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
           std::to_string(h);
  };
  const std::string start = AwaitGeometry(find, at(work.x, work.y, work.width, work.height));
  // Wait for the movie to take the pointer's events, then drag the top band.
  g_usleep(1500000);
  Output("xdotool mousemove " + std::to_string(work.x + 600) + " " + std::to_string(work.y + 40) +
         " sleep 0.2 mousedown 1 sleep 0.2 mousemove_relative 15 10 sleep 0.2 "
         "mousemove_relative 15 10 sleep 0.2 mouseup 1");
  const std::string moved =
      AwaitGeometry(find, at(work.x + 30, work.y + 20, work.width, work.height));
  // Then drag its left edge 100 pixels to the right.
  const int edge = work.x + 30 + 2;
  Output("xdotool mousemove " + std::to_string(edge) + " " + std::to_string(work.y + 500) +
         " sleep 0.2 mousedown 1 sleep 0.2 mousemove_relative 50 0 sleep 0.2 "
         "mousemove_relative 50 0 sleep 0.2 mouseup 1");
  const std::string resized =
      AwaitGeometry(find, at(work.x + 130, work.y + 20, work.width - 100, work.height));
  kill(pid, SIGTERM);
  int status;
  waitpid(pid, &status, 0);
  EXPECT_EQ(start, at(work.x, work.y, work.width, work.height));
  EXPECT_EQ(moved, at(work.x + 30, work.y + 20, work.width, work.height));
  EXPECT_EQ(resized, at(work.x + 130, work.y + 20, work.width - 100, work.height));
}

}  // namespace

namespace {

// The top-level windows of the display, bottom first (as the X server stacks them).
std::vector<unsigned long> Stacking() {
  std::vector<unsigned long> ids;
  std::istringstream out(Output("xwininfo -root -children 2>/dev/null"));
  for (std::string line; std::getline(out, line);) {
    std::size_t at = line.find("0x");
    if (at == std::string::npos || line.find("children") != std::string::npos) continue;
    ids.push_back(std::stoul(line.substr(at), nullptr, 16));
  }
  std::reverse(ids.begin(), ids.end());  // xwininfo lists the top first
  return ids;
}

// Whether window |upper| stands above window |lower|.
bool Above(unsigned long upper, unsigned long lower) {
  const std::vector<unsigned long> ids = Stacking();
  auto u = std::find(ids.begin(), ids.end(), upper), l = std::find(ids.begin(), ids.end(), lower);
  return u != ids.end() && l != ids.end() && u > l;
}

// Starts the desktop program with |environment| and |args| in |folder|.
pid_t StartDesktop(const std::string& folder, const std::vector<std::string>& environment,
                   std::vector<std::string> args) {
  const std::string program = ProgramCopy();
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
    if (chdir(folder.c_str()) != 0) _exit(126);
    args.insert(args.begin(), "lumora");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status of |pid|, waiting at most |seconds| (then it is killed: -1).
int AwaitExit(pid_t pid, int seconds) {
  int status = 0;
  for (int i = 0; i < seconds * 20; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    g_usleep(50000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

}  // namespace

// A second start on the same desktop hands its command line to the program that runs
// and ends with 0: the first comes forward and fetches the server list it was handed,
// then the manifest of the chosen server ("auto"). A headless run goes on beside it.
TEST(ProgramWindowTest, ASecondStartHandsItsCommandLineToTheFirstAndEnds) {
  if (g_getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  TempDir home, vendor_root, log;
  home.MakeDir("run");
  ASSERT_EQ(chmod((home / "run").c_str(), 0700), 0);
  VendorProcess vendor({"--root", vendor_root.path(), "--log", log / "requests"});
  const std::string host = "127.0.0.1:" + std::to_string(vendor.port());
  vendor_root.Write("Storage/XmlFile/serverlist.txt",
                    "main|http://" + host + "/update/main.xml\r\n");
  vendor_root.Write("update/main.xml", "<UpdateFiles></UpdateFiles>");
  // Both starts share the user's runtime folder; the first's own server list is nowhere.
  const std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + home / "run",
                                                "XDG_DATA_HOME=" + home / "data",
                                                "LUMORA_SHOP_HOST=127.0.0.1:1"};
  const pid_t first = StartDesktop(home.path(), environment, {});
  const std::string find = "xdotool search --onlyvisible --name '^Lumora$' 2>/dev/null";
  std::string shown;
  for (int i = 0; i < 100 && shown.empty(); ++i) {
    g_usleep(200000);
    shown = Output(find);
  }
  ASSERT_FALSE(shown.empty()) << "the window never showed";
  const unsigned long lumora = std::stoul(shown);
  // A window of the test's own covers it.
  GtkWidget* cover = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(cover), "cover");
  gtk_window_move(GTK_WINDOW(cover), 0, 0);
  gtk_window_set_default_size(GTK_WINDOW(cover), 400, 300);
  gtk_widget_show(cover);
  std::string covered;
  SpinUntil([&] {
    covered = Output("xdotool search --onlyvisible --name '^cover$' 2>/dev/null");
    return !covered.empty();
  });
  ASSERT_FALSE(covered.empty());
  const unsigned long cover_id = std::stoul(covered);
  EXPECT_TRUE(SpinUntil([&] { return Above(cover_id, lumora); }, 5));

  const pid_t second = StartDesktop(home.path(), environment,
                                    {"http://" + host + "/Storage/XmlFile/serverlist.txt", "auto"});
  EXPECT_EQ(AwaitExit(second, 20), 0);
  EXPECT_TRUE(SpinUntil([&] { return Above(lumora, cover_id); })) << "the window stayed behind";
  std::string requests;
  EXPECT_TRUE(SpinUntil([&] {
    std::ifstream in(log / "requests");
    requests.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return requests.find("GET /update/main.xml") != std::string::npos;
  })) << requests;
  EXPECT_NE(requests.find("GET /Storage/XmlFile/serverlist.txt"), std::string::npos);
  // Only one window: the second start made none.
  EXPECT_EQ(Output(find), shown);

  // A headless run is one of its own beside it.
  LumoraOptions headless;
  headless.cwd = home.path();
  headless.env = {{"XDG_RUNTIME_DIR", home / "run"},
                  {"XDG_DATA_HOME", home / "data"},
                  {"LUMORA_SHOP_HOST", "127.0.0.1:1"}};
  LumoraRun run = RunLumora(headless, {});
  EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_FALSE(run.All("window").empty());

  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first program ended";
  gtk_widget_destroy(cover);
  kill(first, SIGTERM);
  waitpid(first, nullptr, 0);
  EXPECT_EQ(vendor.Stop(), 0);
}

// The main window on the desktop: an undecorated GTK window holding the player's web
// view at a rectangle of its own. The view sits in a layout, which does not make the
// window as large as the view: the window can shrink and clip the player.
#ifndef LUMORA_PLATFORM_GTK_GTK_WINDOW_H_
#define LUMORA_PLATFORM_GTK_GTK_WINDOW_H_

#include <string>
#include <vector>

#include "platform/main_window.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef union _GdkEvent GdkEvent;
typedef struct _GdkDragContext GdkDragContext;
typedef struct _GtkSelectionData GtkSelectionData;
typedef struct _GdkCursor GdkCursor;
typedef struct _GdkWindow GdkWindow;
typedef struct _GParamSpec GParamSpec;

namespace platform {

class GtkMainWindow : public MainWindow {
 public:
  explicit GtkMainWindow(GtkWidget* player);
  ~GtkMainWindow() override;
  GtkMainWindow(const GtkMainWindow&) = delete;
  GtkMainWindow& operator=(const GtkMainWindow&) = delete;

  GtkWindow* gtk_window() const;

  void SetEvents(WindowEvents* events) override { events_ = events; }
  Rect WorkArea() const override;
  Rect GetRect() const override { return rect_; }
  void Move(const Rect& rect) override;
  void Show() override;
  void Minimize() override;
  void SetPlayerRect(const Rect& rect) override;
  void SetCursor(Cursor cursor) override;
  void CaptureMouse(bool capture) override;
  Point CursorPosition() const override;

  // A later start of the program on this desktop: the window comes forward (completing
  // the desktop's startup notification |startup_id| when there is one), then the host
  // hears of |command_line|.
  void OnLaterStart(const std::string& command_line, const std::string& startup_id);

  // The local files of a dropped "text/uri-list" (file names as the system spells
  // them), in the order given; other URIs are left out.
  static std::vector<std::string> PathsFromUris(const char* const* uris);

 private:
  static int OnKeyPress(GtkWidget*, GdkEvent* event, void* data) noexcept;
  static int OnDelete(GtkWidget*, GdkEvent*, void* data) noexcept;
  static int OnMouse(GtkWidget*, GdkEvent* event, void* data) noexcept;
  static int OnDragMotion(GtkWidget*, GdkDragContext*, int x, int y, unsigned time,
                          void* self) noexcept;
  static void OnDragLeave(GtkWidget*, GdkDragContext*, unsigned time, void* self) noexcept;
  void DragOver(bool over);
  static void OnDragData(GtkWidget*, GdkDragContext*, int, int, GtkSelectionData* data, unsigned,
                         unsigned, void* self) noexcept;
  static int DeliverDrop(void* self) noexcept;
  static void OnPlayerRealized(GtkWidget* player, void* self) noexcept;
  static void OnPlayerUnrealized(GtkWidget* player, void* self) noexcept;
  static void OnCursorChanged(GdkWindow* window, GParamSpec*, void* self) noexcept;
  // Stops watching the cursor of the player's window.
  void Unwatch();

  GtkWidget* window_;
  GtkWidget* layout_;
  GtkWidget* player_;
  WindowEvents* events_ = nullptr;
  Rect rect_;
  bool captured_ = false;
  // The player's own window, whose cursor changes are watched while it exists. The
  // player sets its cursors there (the web view, on every move of the mouse): ours is
  // shown over a resize zone and put back whenever the player sets its own meanwhile;
  // leaving the zone gives back the cursor the player set last. Outside the zones the
  // window never touches the cursor.
  GdkWindow* watched_ = nullptr;
  GdkCursor* own_cursor_ = nullptr;     // ours while shown (a reference), else null
  GdkCursor* player_cursor_ = nullptr;  // the player's last (a reference; null: the default)
  // Files dropped and not yet handed on; they go to the host from an idle callback,
  // after the drag has finished, because the host may open dialogs for them.
  std::vector<std::string> dropped_;
  unsigned drop_source_ = 0;
  bool drag_over_ = false;  // files are being dragged over the window
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_GTK_WINDOW_H_

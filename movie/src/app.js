// The movie's start: layout by StageX and StageY, the host's variables routed to the
// views, the window buttons and the keyboard.
(function (L) {
  "use strict";
  var M = L.model;

  function applyLayout() {
    var x = parseInt(lumora.get("StageX"), 10) || window.innerWidth;
    var y = parseInt(lumora.get("StageY"), 10) || window.innerHeight;
    // The view is never wider than the window it is in.
    if (window.innerWidth > 0) x = Math.min(x, window.innerWidth);
    if (window.innerHeight > 0) y = Math.min(y, window.innerHeight);
    var lay = M.layoutFor(x, y);
    L.state.layout = lay;
    var s = document.documentElement.style;
    s.setProperty("--nav-w", lay.nav + "px");
    s.setProperty("--pad", lay.pad + "px");
    s.setProperty("--gap", lay.gap + "px");
    s.setProperty("--drawer-w", lay.drawer + "px");
    document.body.classList.toggle("rail", lay.nav === 72);
    document.body.classList.toggle("drawer-beside", lay.drawerBeside);
    L.grid.relayout();
  }
  L.applyLayout = applyLayout;

  lumora.onVariable = function (name, value) {
    if (name === "StageX" || name === "StageY") applyLayout();
    else if (name === "RetValSearch") L.search.answered(value === "true");
    else if (name === "DropHover") L.$("drop").hidden = value !== "true";
    else if (name === "AddLocalFileRetValue" && value === "true") {
      if (L.state.view && L.state.view.local) L.refreshView(); else L.showView("local");
    } else if (name === "MyAppDataDir") L.refreshView();
    else if (name === "UserPass" || name === "RetValYigoumai") L.account.onVariable(name, value);
    else if (name === "OpdsCatalogues") L.opds.catalogues(value);
    else if (name === "OpdsPage") L.opds.page(value);
    else if (name === "OpdsResult") L.settings.opdsResult(value);
    L.downloads.onVariable(name, value);
    L.settings.onVariable(name, value);
    if (/^(FirstRun|UpdatedFile|TotalUpdateFile|UpdateResult)$/.test(name)) L.updateProgressed();
  };

  document.querySelectorAll("[data-win]").forEach(function (button) {
    button.addEventListener("click", function () { lumora.fscommand("win", button.getAttribute("data-win")); });
  });
  L.$("btn-add").addEventListener("click", L.addFiles);
  L.$("scrim").addEventListener("click", function () { L.closeTop(); });
  // The button that opened a popover closes it on its own click.
  document.addEventListener("mousedown", function (e) { L.closeOutside(e.target); });
  L.$("menu").addEventListener("keydown", L.menuKey);

  document.addEventListener("keydown", function (e) {
    var typing = /^(INPUT|TEXTAREA)$/.test(e.target.tagName);
    if (e.key === "Escape") {
      // An input method's Escape ends its composition and nothing else.
      if (e.isComposing) return;
      e.preventDefault();
      if (L.closeTop()) return;
      if (L.batch.size()) { L.batch.clear(); return; }
      if (L.$("search-box").value) { L.search.clearFilter(); return; }
      // Nothing to close or clear: Escape asks the host's quit question, as the window's
      // own quit button does. A key held down asks once.
      if (!e.repeat) L.send("win", "quit");
      return;
    }
    if ((e.key === "/" && !typing) || (e.ctrlKey && (e.key === "f" || e.key === "F"))) {
      L.$("search-box").focus(); L.$("search-box").select(); e.preventDefault(); return;
    }
    if (e.ctrlKey && e.key >= "1" && e.key <= "5") { L.showView(M.CATEGORIES[+e.key - 1].key); L.grid.focus(); e.preventDefault(); return; }
    if (e.ctrlKey && (e.key === "o" || e.key === "O")) { L.addFiles(); e.preventDefault(); return; }
    // Ctrl+A outside a field selects every item of the view, drawn or not.
    if (e.ctrlKey && (e.key === "a" || e.key === "A") && !typing && !L.$("scroller").hidden &&
        (e.target === document.body || L.$("content").contains(e.target))) {
      L.batch.all(); e.preventDefault(); return;
    }
    if (e.ctrlKey && (e.key === "j" || e.key === "J")) { L.downloads.toggle(); e.preventDefault(); }
  });
  window.addEventListener("resize", function () { applyLayout(); });

  L.buildNav();
  L.grid.init();
  L.toolbar.init();
  L.search.init();
  L.account.init();
  L.downloads.init();
  L.batch.init();
  L.settings.init();
  L.opds.init();
  L.state.layout = M.layoutFor(window.innerWidth, window.innerHeight);
  applyLayout();
  L.showView("maga");
  // Variables the host set before this script ran.
  ["FirstRun", "UpdatedFile", "UpdateResult"].forEach(function (n) { if (lumora.get(n)) lumora.onVariable(n, lumora.get(n)); });
})(window.Lumora);

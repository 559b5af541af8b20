// Search: a keyword and a choice of categories; the host writes the results into
// "search.xml" of the program folder and answers with RetValSearch.
(function (L) {
  "use strict";
  var M = L.model;
  var tokens = M.CATEGORIES.map(function (c) { return {label: c.label, token: c.token, on: true}; })
    .concat([{label: "本地", token: M.LOCAL.token, on: true}]);
  var pending = null;

  function drawChips() {
    var box = L.$("chips");
    box.textContent = "";
    tokens.forEach(function (t) {
      box.appendChild(L.h("button", {type: "button", "aria-pressed": String(t.on),
        text: (t.on ? "✓ " : "") + t.label,
        onclick: function () {
          // At least one category stays on.
          if (t.on && tokens.filter(function (x) { return x.on; }).length === 1) return;
          t.on = !t.on;
          drawChips();
        }}));
    });
  }

  var search = {
    init: function () {
      drawChips();
      L.$("search-form").addEventListener("submit", function (e) {
        e.preventDefault();
        search.run(L.$("search-box").value);
      });
      L.$("search-box").addEventListener("keydown", function (e) {
        if (e.key === "Escape" && L.$("search-box").value) { search.clearFilter(); e.stopPropagation(); }
      });
      // A local view filters as the user types; Enter still searches the catalogues.
      L.$("search-box").addEventListener("input", function () {
        if (L.state.view && L.state.view.local) L.refreshView();
      });
      L.$("btn-clear").addEventListener("click", search.clear);
    },
    run: function (keyword) {
      keyword = String(keyword).trim();
      if (!keyword) return;
      // An OPDS catalogue shown: the search is that catalogue's.
      if (L.state.view && L.state.view.opds) { L.opds.search(keyword); return; }
      var chosen = tokens.filter(function (t) { return t.on; }).map(function (t) { return t.token; });
      var text = M.texts.search(keyword, chosen);
      L.state.lastKeyword = keyword;
      if (!L.send("search", text)) return;
      pending = keyword;
      if (L.state.view && L.state.view.key !== "search") L.state.beforeSearch = L.state.view.key;
      L.showView("search", {pending: keyword});
    },
    // The host's answer: "true" when the results file is written, "false" when it could
    // not be (it holds no results of this search).
    answered: function (written) {
      pending = null;
      L.showView("search", written ? undefined : {failed: true});
    },
    retry: function () {
      if (L.state.lastKeyword) search.run(L.state.lastKeyword);
    },
    widen: function () {
      tokens.forEach(function (t) { t.on = true; });
      drawChips();
      if (L.state.lastKeyword) search.run(L.state.lastKeyword);
    },
    pending: function () { return pending; },
    // The categories chosen, as the host's search tokens.
    chosen: function () { return tokens.filter(function (t) { return t.on; }).map(function (t) { return t.token; }); },
    // 清除: the keyword goes and the view shown before the search comes back.
    clear: function () {
      L.$("search-box").value = "";
      L.state.lastKeyword = "";
      L.showView(L.state.beforeSearch || "maga");
    },
    // The search box emptied; a local view shows all its items again.
    clearFilter: function () {
      L.$("search-box").value = "";
      if (L.state.view && L.state.view.local) L.refreshView();
    }
  };
  L.search = search;
})(window.Lumora);

// The toolbar's 排序 and 跳到分组: each opens a menu under its button, and both follow
// what the grid shows (the order chosen for the view, the groups it has).
(function (L) {
  "use strict";
  var M = L.model;

  function openUnder(button, entries, label) {
    var r = button.getBoundingClientRect();
    L.menu(entries, r.left, r.bottom + 4, {owner: button, label: label});
  }

  var toolbar = {
    init: function () {
      [[L.$("btn-order"), toolbar.openOrder], [L.$("btn-jump"), toolbar.openJump]].forEach(function (pair) {
        var button = pair[0], open = pair[1];
        // A second click on the button closes its menu.
        button.addEventListener("click", function () {
          if (L.menuOwner === button) L.closePanel("menu"); else open();
        });
        button.addEventListener("keydown", function (e) {
          if (e.key === "ArrowDown" || e.key === "ArrowUp") { e.preventDefault(); open(); }
        });
      });
      L.grid.onchange = toolbar.sync;
      toolbar.sync();
    },
    // The buttons as the grid now is: the order's name; no jump with fewer than two groups.
    sync: function () {
      L.$("order-label").textContent = M.orderLabel(L.grid.order());
      L.$("btn-order").disabled = L.grid.items().length === 0;
      var jump = L.$("btn-jump");
      jump.disabled = L.grid.sections().length < 2;
      jump.title = jump.disabled ? "只有一个分组" : "跳到分组";
    },
    openOrder: function () {
      var now = L.grid.order();
      openUnder(L.$("btn-order"), M.ORDERS.map(function (o) {
        return [o.label, function () { L.grid.setOrder(o.key); }, true, o.key === now];
      }), "排序");
    },
    openJump: function () {
      var sections = L.grid.sections();
      if (sections.length < 2) return;
      openUnder(L.$("btn-jump"), sections.map(function (s) {
        return [s.group + " · " + s.count + " 项", function () { L.grid.jumpTo(s.group); L.grid.focus(); }];
      }), "跳到分组");
    }
  };
  L.toolbar = toolbar;
})(window.Lumora);

// Settings ("系统设置" with sound, start with the desktop and the web setting), shown
// with the values stored in the settings file; the update banner; the first-run welcome.
(function (L) {
  "use strict";
  var M = L.model;
  var stored = {sound: "", autorun: "", websetting: ""};

  // The update: a banner while files come in; once they have all come the catalogues
  // are read again, as they may be among them. A check that the host's timer starts
  // while files are still queued answers only after them, so the last count may never
  // come: a pause of UPDATE_SETTLE_MS without a file ends the update too.
  var UPDATE_SETTLE_MS = 4000;
  var updating = false, settle = 0;
  // A release of this run that replaced the program's own files needs a restart, also
  // when a later one did not.
  var restartNeeded = false;

  // The settings' update row: the outcome of the last update of this run, and 重新启动
  // while a restart is owed.
  function showOutcome() {
    L.$("set-update").textContent = updating ? L.$("update-text").textContent :
      M.updateOutcome(lumora.get("UpdateResult"));
    L.$("set-restart").hidden = !restartNeeded;
  }
  function restart() { L.send("restart", ""); }
  function updateEnded() {
    clearTimeout(settle);
    L.$("update-banner").hidden = true;
    if (updating) { updating = false; L.refreshView(); }
    showOutcome();
  }

  // The settings' OPDS section: the catalogues with 删除, and 添加. The password goes to
  // the host once and is kept nowhere in the page (its field is emptied as it is sent).
  var adding = false;
  function opdsAlert(text) {
    var a = L.$("opds-alert");
    a.textContent = text || "";
    a.hidden = !text;
  }
  function opdsAdd(e) {
    e.preventDefault();
    if (adding) return;
    var url = L.$("opds-url").value.trim();
    if (!/^https?:\/\/[^\s\/?#]+/i.test(url)) { opdsAlert("地址须以 http:// 或 https:// 开头"); L.$("opds-url").focus(); return; }
    var text = M.opdsTexts.add(L.$("opds-name").value, url, L.$("opds-user").value.trim(), L.$("opds-pass").value);
    if (text === null) { opdsAlert("内容过长或含有“|”，无法添加"); return; }
    L.$("opds-pass").value = "";
    if (!L.send("opds", text)) return;
    adding = true;
    opdsAlert("");
    L.$("opds-submit").disabled = true;
    L.$("opds-submit").textContent = "正在添加…";
  }
  function opdsRemove(c) {
    if (L.send("opds", M.opdsTexts.remove(c.id))) opdsAlert("");
  }

  var settings = {
    // OpdsCatalogues changed: the section lists them.
    opdsListed: function (list) {
      var ul = L.$("opds-list");
      ul.textContent = "";
      list.forEach(function (c) {
        ul.appendChild(L.h("li", {class: "row"}, [
          L.h("span", {class: "opds-name", title: c.url}, [L.h("b", {text: c.name}), L.h("small", {text: c.url})]),
          L.h("button", {type: "button", text: "删除", "aria-label": "删除 " + c.name,
                         onclick: function () { opdsRemove(c); }})]));
      });
      L.$("opds-none").hidden = list.length > 0;
    },
    // OpdsResult: an addition or removal done, or why not.
    opdsResult: function (value) {
      var r = M.parseOpdsResult(value);
      if (!r) return;
      if (r.op === "add") {
        adding = false;
        L.$("opds-submit").disabled = false;
        L.$("opds-submit").textContent = "添加";
      }
      if (!r.ok) {
        opdsAlert((r.op === "add" ? "添加失败：" : "删除失败：") + r.message);
        if (!L.isOpen("settings")) L.toast("OPDS 目录" + (r.op === "add" ? "添加" : "删除") + "失败：" + r.message, {error: true});
        return;
      }
      opdsAlert("");
      if (r.op === "add") {
        ["opds-name", "opds-url", "opds-user", "opds-pass"].forEach(function (id) { L.$(id).value = ""; });
        L.toast("已添加 OPDS 目录");
      } else L.toast("已删除 OPDS 目录");
    },
    init: function () {
      L.$("opds-add").addEventListener("submit", opdsAdd);
      settings.opdsListed([]);
      L.$("btn-settings").addEventListener("click", settings.open);
      L.$("settings-cancel").addEventListener("click", function () { L.closePanel("settings"); });
      L.$("settings-save").addEventListener("click", settings.save);
      L.$("set-restart").addEventListener("click", restart);
      showOutcome();
      L.$("welcome-start").addEventListener("click", function () { L.closePanel("welcome"); L.grid.focus(); });
      L.$("welcome-signin").addEventListener("click", function () { L.closePanel("welcome"); L.account.open(); });
    },
    open: function () {
      L.readFile("data", "public/vellariInfo.xml").then(function (bytes) {
        stored = M.parseSettings(M.decodeXmlBytes(bytes));
      }, function () { /* no settings file yet: defaults */ }).then(function () {
        L.$("set-sound").checked = stored.sound === "1";
        L.$("set-autorun").checked = stored.autorun === "1";
        L.$("set-web").checked = stored.websetting === "1";
        L.openPanel("settings", {modal: true});
      });
    },
    save: function () {
      var text = M.texts.settings(L.$("set-sound").checked, L.$("set-autorun").checked, L.$("set-web").checked);
      if (L.send("系统设置", text)) {
        stored = {sound: L.$("set-sound").checked ? "1" : "0", autorun: L.$("set-autorun").checked ? "1" : "0",
                  websetting: L.$("set-web").checked ? "1" : "0"};
        L.closePanel("settings");
        L.toast("设置已保存");
      }
    },
    onVariable: function (name, value) {
      if (name === "UpdatedFile" || name === "TotalUpdateFile") {
        var done = parseInt(lumora.get("UpdatedFile"), 10) || 0;
        var total = parseInt(lumora.get("TotalUpdateFile"), 10) || 0;
        if (!(total > 0 && done < total)) { updateEnded(); return; }
        updating = true;
        L.$("update-banner").hidden = false;
        L.$("update-text").textContent = "正在更新 " + done + " / " + total + " 个文件";
        L.$("update-bar").style.width = Math.round(done * 100 / total) + "%";
        L.$("update-bar").parentNode.setAttribute("aria-valuenow", String(Math.round(done * 100 / total)));
        clearTimeout(settle);
        settle = setTimeout(updateEnded, UPDATE_SETTLE_MS);
        showOutcome();
      } else if (name === "UpdateResult") {
        // A release that replaced the program's own files takes effect once the
        // program starts again: offered, and started again only when the user accepts.
        var result = M.parseUpdateResult(value);
        if (result && result.restart) {
          restartNeeded = true;
          L.toast("更新已完成，重新启动后生效", {stay: true, action: {label: "重新启动", run: restart}});
        }
        showOutcome();
      } else if (name === "FirstRun" && value === "true") {
        L.openPanel("welcome", {modal: true});
      }
    }
  };
  L.settings = settings;
})(window.Lumora);

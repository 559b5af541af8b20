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

  var settings = {
    init: function () {
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

// The bridge between this movie and its host.
//
//   lumora.fscommand(command, args)  asks the host for work (the movie's FSCommand).
//   lumora.setVariable(name, value)  is called by the host to set a movie variable;
//                                    the value is visible to the movie at once.
//   lumora.set(name, value)          sets a variable from inside the movie and tells
//                                    the host, so that the host reads what the movie set.
//   lumora.get(name)                 a variable's current value ("" when unset).
//   lumora.onVariable                called after every change: (name, value).
//
// Messages to the host are JSON texts posted to the script message handler "lumora":
// {"fscommand": C, "args": A} and {"setVariable": {"name": N, "value": V}}.
window.lumora = (function () {
  var vars = {};
  function post(message) {
    var handlers = window.webkit && window.webkit.messageHandlers;
    if (handlers && handlers.lumora) handlers.lumora.postMessage(JSON.stringify(message));
  }
  var bridge = {
    fscommand: function (command, args) {
      post({fscommand: String(command), args: String(args === undefined ? "" : args)});
    },
    setVariable: function (name, value) {
      vars[name] = String(value);
      if (bridge.onVariable) bridge.onVariable(name, vars[name]);
    },
    set: function (name, value) {
      vars[name] = String(value);
      post({setVariable: {name: String(name), value: vars[name]}});
      if (bridge.onVariable) bridge.onVariable(name, vars[name]);
    },
    get: function (name) { return vars.hasOwnProperty(name) ? vars[name] : ""; },
    onVariable: null
  };
  return bridge;
})();

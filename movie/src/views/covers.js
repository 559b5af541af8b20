// Cover pictures for the grid's cards: at most six loading at a time, the latest asked
// for first (the cards just scrolled into view), each decoded at the size it is drawn
// and painted into a canvas of that size, and forgotten when its card leaves. A small
// store of drawn pictures serves a card that comes back. Pictures of web addresses,
// which the page may not read as bytes, load as plain images through the same queue.
(function (L) {
  "use strict";
  var M = L.model;
  var MOST = 6;
  var KEPT = 96;
  var waiting = [];  // jobs not started, the newest last
  var running = 0;
  var kept = new Map();  // "url w h" -> ImageBitmap, the least recently used first
  var resizes = typeof createImageBitmap === "function";

  function keep(key, bitmap) {
    kept.set(key, bitmap);
    while (kept.size > KEPT) {
      var oldest = kept.keys().next().value;
      kept.get(oldest).close();
      kept.delete(oldest);
    }
  }
  function keptBitmap(key) {
    var b = kept.get(key);
    if (b) { kept.delete(key); kept.set(key, b); }
    return b;
  }

  function draw(job, bitmap, fit) {
    var c = document.createElement("canvas");
    c.width = job.pw;
    c.height = job.ph;
    c.className = "art";
    // A canvas kept in memory (as one read back often is): dozens of small ones drawn
    // once cost far less there than as textures of a software-rendered display.
    c.getContext("2d", {willReadFrequently: true}).drawImage(bitmap, Math.round(fit.x), Math.round(fit.y), bitmap.width, bitmap.height);
    shown(job, c);
  }
  // The picture's element goes over the tile; the cover says which picture it shows.
  function shown(job, el) {
    job.cover.insertBefore(el, job.cover.firstChild.nextSibling);
    job.cover.classList.add("drawn");
    job.cover.dataset.cover = "drawn";
    job.cover.dataset.picture = job.url;
  }

  // A picture of the data folder, decoded at the drawn size.
  function loadBytes(job) {
    var key = job.url + " " + job.pw + " " + job.ph;
    var hit = keptBitmap(key);
    // A kept picture is already at its drawn size: it is centred in the frame.
    if (hit) { draw(job, hit, {x: (job.pw - hit.width) / 2, y: (job.ph - hit.height) / 2}); return Promise.resolve(); }
    return new Promise(function (resolve, reject) {
      var x = new XMLHttpRequest();
      job.abort = function () { x.abort(); };
      x.open("GET", job.url);
      x.responseType = "arraybuffer";
      x.timeout = 15000;
      x.onload = function () {
        if ((x.status === 200 || x.status === 0) && x.response && x.response.byteLength) resolve(new Uint8Array(x.response));
        else reject(new Error("status " + x.status));
      };
      x.onerror = x.ontimeout = x.onabort = function () { reject(new Error("unreadable")); };
      x.send();
    }).then(function (bytes) {
      if (job.gone) return null;
      var size = M.pictureSize(bytes);
      if (!size) throw new Error("no picture");
      var fit = M.coverFit(size.w, size.h, job.pw, job.ph);
      return createImageBitmap(new Blob([bytes]), {resizeWidth: Math.max(1, Math.round(fit.w)),
        resizeHeight: Math.max(1, Math.round(fit.h)), resizeQuality: "medium"}).then(function (bitmap) {
        keep(key, bitmap);
        if (!job.gone) draw(job, bitmap, fit);
      }, function (e) {
        // A player that cannot resize while decoding shows plain images from then on.
        if (!(e instanceof TypeError)) throw e;
        resizes = false;
        return loadImage(job);
      });
    });
  }

  // A picture of the web, as an image element.
  function loadImage(job) {
    return new Promise(function (resolve, reject) {
      var img = new Image();
      img.alt = "";
      img.decoding = "async";
      img.className = "art";
      job.abort = function () { img.removeAttribute("src"); reject(new Error("cancelled")); };
      img.onload = function () {
        if (M.coverFit(img.naturalWidth, img.naturalHeight, job.pw, job.ph).fill) img.classList.add("fill");
        if (!job.gone) shown(job, img);
        resolve();
      };
      img.onerror = function () { reject(new Error("unreadable")); };
      img.src = job.url;
    });
  }

  // While the grid is flung faster than a reader could look at covers, none starts
  // loading: the cards it passes show their tiles, and the ones it stops on load then.
  var FAST = 1500;  // px/s
  var lastY = 0, lastAt = 0, holdUntil = 0, resume = 0;
  function pump() {
    var now = performance.now();
    if (now < holdUntil) {
      if (!resume) resume = setTimeout(function () { resume = 0; pump(); }, holdUntil - now + 1);
      return;
    }
    while (running < MOST && waiting.length) start(waiting.pop());
  }
  function start(job) {
    running++;
    job.started = true;
    var load = /^lumora:/.test(job.url) && resizes ? loadBytes : loadImage;
    load(job).then(null, function () {
      if (job.gone) return;
      // The default picture, then the generated tile that is already there.
      var fallback = M.coverUrl("/public/local/LocalDefaultPic.jpg");
      if (job.url !== fallback) {
        job.url = fallback;
        job.started = false;
        job.cover.dataset.fell = "1";
        waiting.push(job);
      } else {
        job.cover.dataset.cover = "failed";
      }
    }).then(function () {
      running--;
      job.abort = null;
      pump();
    });
  }

  L.covers = {
    // Shows |url|'s picture on |cover| (a card's cover, whose first child is its tile),
    // drawn at |w| x |h| CSS pixels, once it is loaded.
    load: function (cover, url, w, h) {
      var ratio = window.devicePixelRatio || 1;
      var job = {cover: cover, url: url, pw: Math.max(1, Math.round(w * ratio)),
                 ph: Math.max(1, Math.round(h * ratio)), gone: false, abort: null};
      cover.coverJob = job;
      cover.dataset.cover = "loading";
      waiting.push(job);
      pump();
    },
    // Forgets the covers of |el|'s cards: those not started leave the queue, those
    // loading are stopped.
    release: function (el) {
      el.querySelectorAll(".cover").forEach(function (cover) {
        var job = cover.coverJob;
        if (!job) return;
        job.gone = true;
        cover.coverJob = null;
        if (!job.started) {
          var at = waiting.indexOf(job);
          if (at >= 0) waiting.splice(at, 1);
        } else if (job.abort) {
          job.abort();
        }
      });
    },
    // The grid's scroll position, at every frame that moved it.
    scrolled: function (y) {
      var now = performance.now();
      if (lastAt && now > lastAt && Math.abs(y - lastY) * 1000 / (now - lastAt) > FAST) holdUntil = now + 150;
      lastY = y;
      lastAt = now;
    }
  };
})(window.Lumora);

// mirador-page.js - the page around the show's module (mirador.js, mirador.wasm).
//
// On load it checks for WebGL and WebAudio and fetches the data with a progress bar:
// the small rest of mirador.dat and the music as FLAC when mirador-web.json offers
// them (rebuilt here exactly and checked against the image's SHA-256), else the
// plain mirador.dat. Then "Click to start": the click (or tap) opens the audio
// context at the music's rate, starts a fresh instance of the module with the data
// in its file system and runs main, which starts the show and its music together.
// The show ends by itself, or with Escape: the end card offers to play again (a new
// instance on a new canvas; the data stays). F or the button: full screen.
//
// Tests read window.mirador (state, timings, the module instance, the analyser).
// The address may hold ?fixed=FPS&grab=K&size=WxH (a frame on the capture's fixed
// clock, at another output size)
// and ?data=NAME (another data file, to see the page's message when it is missing).
"use strict";
(function () {
  const params = new URLSearchParams(location.search);
  const $ = (id) => document.getElementById(id);
  const state = {
    phase: "loading",        // loading, ready, running, ended, error
    message: "",
    log: [],
    dataVia: "",             // "flac" or "plain"
    dataBytes: 0,            // what was downloaded for the data
    dataReadyMs: 0,          // from navigation
    clickMs: 0,
    firstFrameMs: 0,         // from navigation
    audio: null,             // the AudioContext
    analyser: null,
    module: null,
    silent: false,
  };
  window.mirador = state;
  let image = null;          // Uint8Array: mirador.dat

  function log(line) {
    state.log.push(line);
    if (state.log.length > 2000) state.log.shift();
    console.log(line);
  }

  const REBUILD = "Build it again with scripts/build-web.sh.";

  function fail(text) {
    state.phase = "error";
    state.message = text;
    $("card").hidden = true;
    $("endcard").hidden = true;
    $("messagetext").textContent = text;
    $("message").hidden = false;
    log("mirador: " + text);
  }

  function note(text) {
    $("note").textContent = text;
  }

  // ---- What the browser offers ----------------------------------------------------------
  function hasWebGL() {
    try {
      const c = document.createElement("canvas");
      return !!(window.WebGLRenderingContext && c.getContext("webgl"));
    } catch (e) {
      return false;
    }
  }
  const AudioCtx = window.AudioContext || window.webkitAudioContext;

  // ---- Data --------------------------------------------------------------------------------
  // Fetches url into one Uint8Array, reporting bytes as they arrive.
  async function fetchBytes(url, onBytes) {
    const r = await fetch(url);
    if (!r.ok) throw new Error(url + ": HTTP " + r.status);
    if (!r.body || !r.body.getReader) {
      const b = new Uint8Array(await r.arrayBuffer());
      onBytes(b.length);
      return b;
    }
    const reader = r.body.getReader();
    const parts = [];
    let n = 0;
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      parts.push(value);
      n += value.length;
      onBytes(value.length);
    }
    const out = new Uint8Array(n);
    let o = 0;
    for (const p of parts) {
      out.set(p, o);
      o += p.length;
    }
    return out;
  }

  async function gunzip(bytes) {
    const s = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("gzip"));
    return new Uint8Array(await new Response(s).arrayBuffer());
  }

  function hex(buf) {
    return Array.from(new Uint8Array(buf), (b) => b.toString(16).padStart(2, "0")).join("");
  }

  // The music's samples from FLAC, decoded at their own rate and turned back into
  // their 16-bit values. Chromium's decoder gives v / 32768 for a negative value and
  // v / 32767 for a positive one (pos = 32767); another may divide both by 32768. The
  // nearest integer of the float times its divisor is v again; the caller's hash
  // says whether the guess was right.
  async function decodeBuffer(flac, m) {
    const Offline = window.OfflineAudioContext || window.webkitOfflineAudioContext;
    const ctx = new Offline(m.channels, 1, m.rate);
    const buf = await ctx.decodeAudioData(flac.buffer.slice(flac.byteOffset, flac.byteOffset + flac.length));
    const frames = m.pcm_bytes / (2 * m.channels);
    if (buf.sampleRate !== m.rate || buf.numberOfChannels !== m.channels || buf.length !== frames)
      throw new Error("the decoded music has another shape");
    return buf;
  }

  function toPCM(buf, m, pos) {
    const frames = buf.length;
    const pcm = new Uint8Array(m.pcm_bytes);
    const view = new DataView(pcm.buffer);
    for (let c = 0; c < m.channels; c++) {
      const d = buf.getChannelData(c);
      for (let i = 0; i < frames; i++) {
        let v = d[i] < 0 ? Math.round(d[i] * 32768) : Math.round(d[i] * pos);
        if (v > 32767) v = 32767;
        if (v < -32768) v = -32768;
        view.setInt16((i * m.channels + c) * 2, v, true);
      }
    }
    return pcm;
  }

  async function loadSmall(m, progress) {
    if (!m.music || !m.rest || !window.DecompressionStream || !crypto.subtle) throw new Error("not offered");
    const [restgz, flac] = await Promise.all([fetchBytes(m.rest, progress), fetchBytes(m.music, progress)]);
    // A server may already have undone the gzip (as a Content-Encoding).
    const rest = restgz[0] === 0x1f && restgz[1] === 0x8b ? await gunzip(restgz) : restgz;
    const buf = await decodeBuffer(flac, m);
    if (rest.length + m.pcm_bytes !== m.size) throw new Error("the pieces do not add up");
    const out = new Uint8Array(m.size);
    out.set(rest.subarray(0, m.pcm_offset), 0);
    out.set(rest.subarray(m.pcm_offset), m.pcm_offset + m.pcm_bytes);
    for (const pos of [32767, 32768]) {
      out.set(toPCM(buf, m, pos), m.pcm_offset);
      const sum = hex(await crypto.subtle.digest("SHA-256", out));
      if (sum === m.sha256) {
        state.dataBytes = restgz.length + flac.length;
        return out;
      }
    }
    throw new Error("the rebuilt image's SHA-256 differs");
  }

  async function loadData() {
    let got = 0, total = 0;
    const bar = $("bar");
    const progress = (n) => {
      got += n;
      bar.style.width = total ? Math.min(100, (100 * got) / total).toFixed(1) + "%" : "50%";
      $("status").textContent = "Loading " + (got / 1e6).toFixed(1) + (total ? " of " + (total / 1e6).toFixed(1) : "") + " MB";
    };
    const name = params.get("data") || "mirador.dat";
    let m = null;
    if (!params.get("data") && params.get("plain") === null) {
      try {
        const r = await fetch("mirador-web.json");
        if (r.ok) m = await r.json();
      } catch (e) {
        m = null;
      }
    }
    if (m && m.music) {
      total = m.rest_bytes + m.music_bytes;
      try {
        const out = await loadSmall(m, progress);
        state.dataVia = "flac";
        return out;
      } catch (e) {
        log("mirador: the small download did not work (" + e.message + "): fetching the plain mirador.dat");
        got = 0;
      }
    }
    total = m ? m.size : 0;
    let out;
    try {
      out = await fetchBytes(name, progress);
    } catch (e) {
      throw new Error("missing");
    }
    state.dataVia = "plain";
    state.dataBytes = out.length;
    return out;
  }

  function isImage(b) {
    return b.length >= 16 && b[0] === 0x43 && b[1] === 0x4f && b[2] === 0x52 && b[3] === 0x45;
  }

  // ---- Sound ---------------------------------------------------------------------------------
  // The module's waveOut model pulls blocks through plat_web_audio_pull; this node
  // plays them. Made inside the click, so the browser lets it start.
  let processor = null;
  function openAudio(mod, freq) {
    if (!state.audio) return 0;
    if (state.audio.sampleRate !== freq) {
      log("mirador: the audio context runs at " + state.audio.sampleRate + " Hz, not " + freq + ": silent");
      return 0;
    }
    const frames = 4096;
    const ptr = mod._plat_web_audio_block(frames);
    if (!ptr) return 0;
    processor = state.audio.createScriptProcessor(frames, 0, 2);
    processor.onaudioprocess = (ev) => {
      mod._plat_web_audio_pull(frames);
      const heap = mod.HEAPF32;
      const base = ptr >> 2;
      ev.outputBuffer.getChannelData(0).set(heap.subarray(base, base + frames));
      ev.outputBuffer.getChannelData(1).set(heap.subarray(base + frames, base + 2 * frames));
    };
    processor.connect(state.analyser);
    return 1;
  }

  function closeAudio() {
    if (processor) {
      processor.onaudioprocess = null;
      processor.disconnect();
      processor = null;
    }
  }

  // ---- The show ----------------------------------------------------------------------------------
  function freshCanvas() {
    const old = $("canvas");
    const c = document.createElement("canvas");
    c.id = "canvas";
    c.width = 1280;
    c.height = 720;
    c.tabIndex = -1;
    old.replaceWith(c);
    return c;
  }

  function watchFirstFrame(mod) {
    const tick = () => {
      if (state.module !== mod) return;
      if (mod._mirador_web_framecount() > 0) {
        state.firstFrameMs = performance.now();
        log("mirador: first frame " + (state.firstFrameMs - state.clickMs).toFixed(0) + " ms after the click, " +
            state.firstFrameMs.toFixed(0) + " ms after navigation");
        return;
      }
      requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
  }

  async function start() {
    if (state.phase !== "ready" && state.phase !== "ended") return;
    state.phase = "starting";
    state.clickMs = performance.now();
    state.firstFrameMs = 0;
    $("card").hidden = true;
    $("endcard").hidden = true;
    if (AudioCtx && !state.audio) {
      try {
        state.audio = new AudioCtx({ sampleRate: 44100, latencyHint: "playback" });
        state.analyser = state.audio.createAnalyser();
        state.analyser.fftSize = 2048;
        state.analyser.connect(state.audio.destination);
      } catch (e) {
        state.audio = null;
        log("mirador: no audio context (" + e.message + "): the show runs silent");
      }
    }
    if (state.audio && state.audio.state !== "running") state.audio.resume();
    state.silent = !state.audio;
    const canvas = freshCanvas();
    let mod;
    const config = {
      canvas: canvas,
      print: (t) => log(t),
      printErr: (t) => log(t),
      openAudio: (freq) => openAudio(mod, freq),
      closeAudio: closeAudio,
      onShowEnd: () => ended(mod),
      onMessage: (t) => {
        if (t === "nowebgl") fail("This browser could not make a WebGL context, which the show draws with.");
      },
    };
    try {
      mod = await createMirador(config);
    } catch (e) {
      fail("The show's program could not start: " + e);
      return;
    }
    state.module = mod;
    mod.FS.writeFile("/mirador.dat", image);
    const args = [];
    if (params.get("fixed")) args.push("--fixed-fps", params.get("fixed"));
    if (params.get("grab")) args.push("--grab", params.get("grab"));
    if (params.get("size")) args.push("--size", params.get("size"));
    state.phase = "running";
    $("fullscreen").hidden = false;
    canvas.focus();
    watchFirstFrame(mod);
    try {
      mod.callMain(args);
    } catch (e) {
      // The resource layer ends the program (exit status 1) on an image it cannot read.
      if (e && e.name === "ExitStatus") fail("mirador.dat is damaged: the show could not read it (exit status " + e.status + "). " + REBUILD);
      else fail("The show stopped: " + e);
      return;
    }
    const missing = mod._mirador_web_missing();
    if (state.phase === "running" && missing > 0) {
      mod._mirador_web_close();
      fail("mirador.dat is damaged: " + missing + " of the " + mod._mirador_web_checked() + " pictures and music in it did not load. " + REBUILD);
    }
  }

  function ended(mod) {
    if (state.module !== mod || state.phase === "error") return;
    state.phase = "ended";
    closeAudio();
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    $("endcard").hidden = false;
    log("mirador: the show is over");
  }

  function toggleFullscreen() {
    const el = $("stage");
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else if (el.requestFullscreen) el.requestFullscreen().catch(() => {});
    else if (el.webkitRequestFullscreen) el.webkitRequestFullscreen();
  }

  // ---- Page -------------------------------------------------------------------------------------
  $("card").addEventListener("click", start);
  $("again").addEventListener("click", start);
  $("endcard").addEventListener("click", start);
  $("fullscreen").addEventListener("click", (e) => {
    e.stopPropagation();
    toggleFullscreen();
  });
  window.addEventListener("keydown", (e) => {
    if ((e.key === "f" || e.key === "F") && !e.ctrlKey && !e.metaKey && !e.altKey) toggleFullscreen();
    else if ((e.key === "Enter" || e.key === " ") && (state.phase === "ready" || state.phase === "ended")) start();
  });

  async function init() {
    if (!hasWebGL()) {
      fail("This browser has no WebGL (or it is switched off), which the show draws with.");
      return;
    }
    if (typeof createMirador !== "function") {
      fail("mirador.js, the show's program, did not load.");
      return;
    }
    if (!AudioCtx) note("This browser has no WebAudio: the show runs without its music.");
    try {
      image = await loadData();
    } catch (e) {
      fail((params.get("data") || "mirador.dat") + " could not be loaded: the show's pictures and music are in it. " +
           "Put it beside index.html (scripts/build-web.sh does).");
      return;
    }
    if (!isImage(image)) {
      fail("mirador.dat is damaged: it is not a resource image (no CORE header). " + REBUILD);
      return;
    }
    state.dataReadyMs = performance.now();
    log("mirador: data ready (" + state.dataVia + ", " + state.dataBytes + " bytes downloaded) " +
        state.dataReadyMs.toFixed(0) + " ms after navigation");
    $("bar").style.width = "100%";
    $("status").hidden = true;
    $("progress").hidden = true;
    $("start").hidden = false;
    $("start").textContent = matchMedia("(pointer: coarse)").matches ? "Tap to start" : "Click to start";
    state.phase = "ready";
  }
  init();
})();

// mirador-page.js - the page around the show's module (mirador.js, mirador.wasm).
//
// On load it checks for WebGL and WebAudio and fetches the data with a progress bar:
// the small rest of mirador.dat and the music as FLAC when mirador-web.json offers
// them (rebuilt here exactly and checked against the image's SHA-256), else the
// plain mirador.dat. Then "Click to start": the click (or tap) opens the audio
// context (at the music's rate where the browser allows; the player resamples
// otherwise), starts a fresh instance of the module with the data
// in its file system and runs main, which starts the show and its music together.
// The show ends by itself, or with Escape: the end card offers to play again (a new
// instance on a new canvas; the data stays). F or the button: full screen.
//
// Tests read window.mirador (state, timings, the module instance, the analyser).
// The address may hold ?fixed=FPS&grab=K&size=WxH (a frame on the capture's fixed
// clock, at another output size)
// and ?data=NAME (another data file, to see the page's message when it is missing);
// ?rate=HZ asks for a context at another rate, ?ahead=S another depth to keep the
// player's queue at, ?player=scriptprocessor for the fall-back player.
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
    player: "",              // "worklet" or "scriptprocessor"
    audioRate: 0,            // the context's rate
    clockVia: "",            // how the ear's time was last read: "timestamp", "latency" or "context"
    audioHeard: () => audioHeard(),          // the mixer's frames heard so far
    audioSent: () => audioOut.sent,          // the mixer's frames handed to the player
    // The player's own count at its last report: [output frames played, of them as
    // silence, the mixer's frames used up], which no late or skipped callback changes.
    audioPlayed: () => audioOut.history.length ? [audioOut.played, audioOut.starved, audioOut.used] : null,
    audioStarved: () => audioOut.starved,   // output frames played as silence, once sound came
    audioQueued: () => audioOut.queued,     // the mixer's frames in the player's queue at its last report
    audioLongestWaitMs: 0,   // the longest wait of the worklet's queue for the main thread
    audioAhead: 0,           // seconds the worklet's queue is kept at now
    audioAheadMax: 0,        // the deepest it is ever filled (at first, and as it grows)
  };
  window.mirador = state;
  let image = null;          // Uint8Array: mirador.dat

  // The time each requestAnimationFrame callback is given: the refresh its frame is
  // drawn for, the same for every callback of that refresh and steady from one to the
  // next, where the moment a callback runs is late by whatever ran before it. The
  // module's clock reads it within a frame (frameTime).
  let frameTime = 0;
  const pageRAF = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (cb) => pageRAF((ts) => { frameTime = ts; cb(ts); });

  // What the browser's path from a frame's callback to the screen adds beyond the one
  // refresh the module counts (ms), where it is known: Chromium composites a frame in
  // its GPU process and shows it a few refreshes later; its pictures were seen about
  // 60 ms after their music with none added, about 10 ms with 45 (bench/sync.sh
  // web-chromium). ?late=MS sets it.
  const PICTURE_LATE_MS = params.get("late") !== null ? Number(params.get("late")) || 0
    : /\bChrome\//.test(navigator.userAgent) ? 45 : 0;

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
  // The module's waveOut model hands out its mixed blocks through plat_web_audio_pull
  // (44100 Hz, the mixer's rate). The page plays them on an AudioWorkletNode where the
  // browser has one: the main thread pulls blocks and posts them over the node's port,
  // keeping a queue in the node, so that a main thread busy for a while (a slow
  // frame, a garbage collection) leaves no gap. It is topped up whenever the node
  // reports and before and after every frame (the module calls feedAudio): on a slow
  // CPU the node's reports wait behind the frames and the browser's rendering for a
  // third of a second and more, while the frames still come. The first fill is
  // AHEAD_MAX deep, as no wait has been seen yet to size the queue by (WebKitGTK on a
  // busy machine has kept it waiting 1.1 to 1.7 s); it then drains to AHEAD seconds,
  // and is kept deeper once the main thread has kept it waiting longer than a third
  // of its depth: to twice that wait, up to AHEAD_MAX. Elsewhere a
  // ScriptProcessorNode pulls in its own callback. Both play through one Resampler:
  // where the context runs at another rate the music is resampled to it (at the
  // mixer's own rate every sample is copied as it is). The show's clock reads what
  // is heard, so the depth of the queue never moves the picture against the sound.
  const AHEAD_MAX = 2.5;         // seconds: the deepest the queue grows (well within the node's ring)
  const AHEAD = Math.min(AHEAD_MAX, Number(params.get("ahead")) || 0.5);   // seconds kept queued after the first fill (?ahead=S)
  const RING = 1 << 17;          // the node's ring of source frames: 2.97 s at 44100 Hz
  const PULL = 2048;             // frames pulled from the module at a time
  const LATENCY = 0.2;           // seconds of the output's buffer asked for

  // A ring of stereo frames at the source rate, read at step source frames per output
  // frame with linear interpolation. The worklet's scope gets this class's own source.
  class Resampler {
    constructor(step, frames) {
      this.step = step;
      this.size = frames;        // a power of two
      this.l = new Float32Array(frames);
      this.r = new Float32Array(frames);
      this.w = 0;                // frames written, in all
      this.rd = 0;               // frames read past, in all
      this.frac = 0;             // position between frame rd and rd + 1
      this.starved = 0;          // output frames played as silence, the queue empty
      this.played = 0;           // output frames rendered, in all
    }
    queued() { return this.w - this.rd; }
    push(l, r) {
      const m = this.size - 1;
      const n = Math.min(l.length, this.size - this.queued());
      for (let i = 0; i < n; i++) {
        this.l[(this.w + i) & m] = l[i];
        this.r[(this.w + i) & m] = r[i];
      }
      this.w += n;
      return n;
    }
    // Fills outL and outR; silence (counted) where the queue runs dry.
    render(outL, outR) {
      const m = this.size - 1, step = this.step;
      let rd = this.rd, frac = this.frac;
      for (let i = 0; i < outL.length; i++) {
        const have = this.w - rd;
        if (have >= 2 || (have === 1 && frac === 0)) {
          const a = rd & m;
          if (frac === 0) {
            outL[i] = this.l[a];
            outR[i] = this.r[a];
          } else {
            const b = (rd + 1) & m;
            outL[i] = this.l[a] + (this.l[b] - this.l[a]) * frac;
            outR[i] = this.r[a] + (this.r[b] - this.r[a]) * frac;
          }
          frac += step;
          const whole = Math.floor(frac);
          rd += whole;
          frac -= whole;
        } else {
          outL[i] = 0;
          outR[i] = 0;
          if (this.w > 0) this.starved++;
        }
      }
      this.rd = rd;
      this.frac = frac;
      this.played += outL.length;
    }
    position() { return this.rd + this.frac; }
  }

  // The worklet: plays what the port brings and reports, every quantum or so, where it
  // is: the source position reached and the context frame it is reached at.
  function workletMain() {
    class MiradorOut extends AudioWorkletProcessor {
      constructor(options) {
        super();
        this.q = new Resampler(options.processorOptions.step, options.processorOptions.ring);
        this.open = true;
        this.quanta = 0;
        this.port.onmessage = (e) => {
          if (e.data === "close") this.open = false;
          else this.q.push(e.data.l, e.data.r);
        };
      }
      process(inputs, outputs) {
        const out = outputs[0];
        this.q.render(out[0], out[1] || out[0]);
        if (++this.quanta % 8 === 0 || this.q.queued() < 4096)
          this.port.postMessage({ frame: currentFrame + out[0].length, pos: this.q.position(),
                                  queued: this.q.queued(), starved: this.q.starved, played: this.q.played });
        return this.open;
      }
    }
    registerProcessor("mirador-out", MiradorOut);
  }
  let workletURL = null;
  let workletLoad = null;        // a promise: whether the worklet's code is in the context
  let workletReady = false;
  function workletSource() {
    if (!workletURL)
      workletURL = URL.createObjectURL(new Blob([Resampler.toString() + "\n(" + workletMain.toString() + ")();\n"],
                                                { type: "text/javascript" }));
    return workletURL;
  }

  // Where the output is: pairs (context frame, source position) as the player
  // reported them, so that the position heard at any context frame can be read back
  // (across a stretch of silence too, where the position stood still).
  const audioOut = {
    mod: null, node: null, processor: null, resampler: null,
    step: 1, freq: 44100, sent: 0, starved: 0, played: 0, used: 0, queued: 0, history: [], ahead: AHEAD,
  };

  function note_position(frame, pos) {
    const h = audioOut.history;
    h.push([frame, pos]);
    if (h.length > 512) h.splice(0, h.length - 256);
  }

  // The context time reaching the ear now: getOutputTimestamp where it is believable
  // (WebKit's performanceTime runs ahead of performance.now() by the whole context
  // time), else the context's time less its reported latencies. Not in Firefox:
  // there both calls ask the sound server for the output's latency while the audio
  // thread waits, and Firefox deadlocks (its page process stops for good, seen in
  // 8 of 13 starts under PulseAudio, none of 16 without the calls); there the
  // context's time less its base latency is used, which leaves the output's own
  // latency (26-45 ms reported) uncounted. ?clock=output asks for the calls anyway,
  // ?clock=context leaves them out in every browser.
  const LATENCY_DEADLOCKS = /\bFirefox\//.test(navigator.userAgent);
  function earTime() {
    const ctx = state.audio;
    const now = performance.now();
    const clock = params.get("clock");
    if (clock === "context" || (LATENCY_DEADLOCKS && clock !== "output")) {
      state.clockVia = "context";
      return ctx.currentTime - (ctx.baseLatency || 0);
    }
    if (ctx.getOutputTimestamp) {
      const ts = ctx.getOutputTimestamp();
      if (ts && ts.contextTime > 0 && ts.contextTime <= ctx.currentTime + 0.05 &&
          ts.performanceTime <= now + 5 && ts.performanceTime > now - 1000) {
        state.clockVia = "timestamp";
        return ts.contextTime + (now - ts.performanceTime) / 1000;
      }
    }
    state.clockVia = "latency";
    return ctx.currentTime - (ctx.baseLatency || 0) - (ctx.outputLatency || 0);
  }

  // Frames of the mixer's sound that have reached the ear (a fraction of a frame
  // exact); the module's clock follows it.
  function audioHeard() {
    const h = audioOut.history;
    if (!state.audio || h.length === 0) return 0;
    const f = earTime() * state.audio.sampleRate;
    let i = h.length - 1;
    while (i > 0 && h[i][0] > f) i--;
    if (h[i][0] > f) return 0;
    let pos = h[i][1] + (f - h[i][0]) * audioOut.step;
    if (i + 1 < h.length) pos = Math.min(pos, h[i + 1][1]);
    return Math.max(0, Math.min(pos, audioOut.sent));
  }

  // Pulls n frames from the module as two new arrays (left, right).
  function pullFrames(mod, ptr, n) {
    mod._plat_web_audio_pull(n);
    const base = ptr >> 2, heap = mod.HEAPF32;
    audioOut.sent += n;
    return [heap.slice(base, base + n), heap.slice(base + n, base + 2 * n)];
  }

  // Tops the worklet's queue up to its depth. Where the node is has to be guessed: its
  // last report may have waited long on this thread, so the position is carried on
  // from it by the context frames that have passed since (at most what was sent).
  function feedWorklet() {
    const o = audioOut;
    if (!o.node) return;
    const now = performance.now();
    if (o.fedAt) {
      const waited = now - o.fedAt;
      state.audioLongestWaitMs = Math.max(state.audioLongestWaitMs, waited);
      if (waited > o.ahead * 1000 / 3) o.ahead = Math.min(AHEAD_MAX, Math.max(o.ahead, 2 * waited / 1000));
      state.audioAhead = o.ahead;
    }
    o.fedAt = now;
    const ptr = o.mod._plat_web_audio_block(PULL);
    if (!ptr) return;
    let played = 0;
    if (o.history.length) {
      const [frame, pos] = o.history[o.history.length - 1];
      const passed = state.audio.currentTime * state.audio.sampleRate - frame;
      played = Math.min(o.sent, pos + Math.max(0, passed) * o.step);
    }
    const depth = o.history.length ? o.ahead : AHEAD_MAX;
    while (o.sent - played < depth * o.freq) {
      const [l, r] = pullFrames(o.mod, ptr, PULL);
      o.node.port.postMessage({ l: l, r: r }, [l.buffer, r.buffer]);
    }
  }

  function openAudio(mod, freq) {
    const ctx = state.audio;
    if (!ctx) return 0;
    const ptr = mod._plat_web_audio_block(PULL);
    if (!ptr) return 0;
    const o = audioOut;
    o.mod = mod;
    o.freq = freq;
    o.step = freq / ctx.sampleRate;
    o.sent = 0;
    o.starved = o.played = o.used = o.queued = 0;
    o.fedAt = 0;
    o.history = [];
    o.ahead = AHEAD;
    state.audioAhead = AHEAD;
    state.audioAheadMax = AHEAD_MAX;
    state.audioLongestWaitMs = 0;
    state.audioRate = ctx.sampleRate;
    if (ctx.sampleRate !== freq)
      log("mirador: the audio context runs at " + ctx.sampleRate + " Hz: the music is resampled from " + freq + " Hz");
    if (workletReady) {
      try {
        o.node = new AudioWorkletNode(ctx, "mirador-out", {
          numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
          processorOptions: { step: o.step, ring: RING },
        });
        o.node.port.onmessage = (e) => {
          if (o.node === null || o.mod !== mod) return;
          note_position(e.data.frame, e.data.pos);
          o.starved = e.data.starved;
          o.played = e.data.played;
          o.used = e.data.pos;
          o.queued = e.data.queued;
          feedWorklet();
        };
        o.node.connect(state.analyser);
        state.player = "worklet";
        return 1;
      } catch (e) {
        log("mirador: no AudioWorkletNode (" + e.message + "): playing through a ScriptProcessorNode");
        o.node = null;
      }
    }
    // The fall-back: each callback pulls what its block needs and plays it.
    const frames = 4096;
    o.resampler = new Resampler(o.step, 65536);
    o.processor = ctx.createScriptProcessor(frames, 0, 2);
    o.processor.onaudioprocess = (ev) => {
      if (o.mod !== mod) return;
      const q = o.resampler;
      while (q.queued() < Math.ceil(frames * o.step) + 2) {
        const [l, r] = pullFrames(mod, ptr, PULL);
        q.push(l, r);
      }
      note_position(ev.playbackTime * ctx.sampleRate, q.position());
      q.render(ev.outputBuffer.getChannelData(0), ev.outputBuffer.getChannelData(1));
      o.starved = q.starved;
      o.played = q.played;
      o.used = q.position();
      o.queued = q.queued();
    };
    o.processor.connect(state.analyser);
    state.player = "scriptprocessor";
    return 1;
  }

  function closeAudio() {
    const o = audioOut;
    if (o.node) {
      o.node.port.onmessage = null;
      o.node.port.postMessage("close");
      o.node.disconnect();
      o.node = null;
    }
    if (o.processor) {
      o.processor.onaudioprocess = null;
      o.processor.disconnect();
      o.processor = null;
    }
    o.mod = null;
    o.history = [];
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
        // The music's rate where the browser offers it (?rate=HZ asks for another);
        // an old webkitAudioContext takes no options and runs at the device's. The
        // output's buffer is asked to be deep (LATENCY s, ?latency=S for another):
        // the browser's own audio process then rides out a busy machine, and the
        // show's clock accounts for the time it adds.
        const rate = Number(params.get("rate")) || 44100;
        const latency = Number(params.get("latency")) || LATENCY;
        state.audio = window.AudioContext ? new AudioCtx({ sampleRate: rate, latencyHint: latency }) : new AudioCtx();
        state.analyser = state.audio.createAnalyser();
        state.analyser.fftSize = 2048;
        state.analyser.connect(state.audio.destination);
      } catch (e) {
        state.audio = null;
        log("mirador: no audio context (" + e.message + "): the show runs silent");
      }
    }
    if (state.audio && state.audio.state !== "running") state.audio.resume().catch(() => {});
    state.silent = !state.audio;
    // The worklet's code, once per context; without it the fall-back player plays.
    if (state.audio && !workletLoad) {
      workletLoad = state.audio.audioWorklet && params.get("player") !== "scriptprocessor"
        ? state.audio.audioWorklet.addModule(workletSource()).then(() => true, (e) => {
            log("mirador: the audio worklet did not load (" + e + "): playing through a ScriptProcessorNode");
            return false;
          })
        : Promise.resolve(false);
    }
    workletReady = state.audio ? await workletLoad : false;
    const canvas = freshCanvas();
    let mod;
    const config = {
      canvas: canvas,
      print: (t) => log(t),
      printErr: (t) => log(t),
      openAudio: (freq) => openAudio(mod, freq),
      audioHeard: audioHeard,
      feedAudio: feedWorklet,
      frameTime: () => frameTime,
      pictureLate: () => PICTURE_LATE_MS,
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
    // The worklet's queue filled before the first frame.
    feedWorklet();
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

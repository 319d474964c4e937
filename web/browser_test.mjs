// The page in a real browser: Debian's chromium, headless, driven over its DevTools protocol,
// loads the page from a server on 127.0.0.1, clicks, and checks the picture, the audio clock,
// Escape, the end of the song and the console. No npm packages: Node's own http and pipes.
//
//   node web/browser_test.mjs PAGE_DIR OUT_DIR
import { spawn, spawnSync, execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";

// BAD_DIR, where given, holds vorta-bad-module.js and .wasm: the program whose block carries a
// module the decoder must refuse, served as the page's program under /bad/.
const [pageDir, outDir, badDir] = process.argv.slice(2);
if (!pageDir || !outDir) {
  console.error("usage: browser_test.mjs PAGE_DIR OUT_DIR [BAD_DIR]");
  process.exit(2);
}
const here = path.dirname(new URL(import.meta.url).pathname);
const goldenDir = path.join(here, "..", "tests", "golden", "frames");
fs.mkdirSync(outDir, { recursive: true });

const failures = [];
const check = (ok, what) => {
  console.log(`${ok ? "ok  " : "FAIL"} ${what}`);
  if (!ok) failures.push(what);
};
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// The recorded show: frame k at sample k * 44100 / 60, its hash and order.
const golden = fs.readFileSync(path.join(goldenDir, "frames.txt"), "utf8").split("\n")
  .filter((l) => l && !l.startsWith("#")).map((l) => {
    const [k, hash, order, row, label] = l.trim().split(/\s+/);
    return { k: Number(k), hash, order: Number(order), row: Number(row), label };
  });

// A static server for the page, on the loopback interface only.
const types = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm" };
const server = http.createServer((req, res) => {
  const url = new URL(req.url, "http://x").pathname;
  let name = path.basename(url) || "index.html";
  let dir = pageDir;
  if (badDir && url.startsWith("/bad/") && name !== "index.html") {
    dir = badDir;
    if (name === "vorta.js") name = "vorta-bad-module.js";
  }
  const file = path.join(dir, name);
  if (!fs.existsSync(file)) {
    res.writeHead(404).end();
    return;
  }
  res.writeHead(200, { "Content-Type": types[path.extname(name)] || "application/octet-stream" });
  fs.createReadStream(file).pipe(res);
});
await new Promise((r) => server.listen(0, "127.0.0.1", r));
const pageUrl = `http://127.0.0.1:${server.address().port}/index.html`;

const profile = fs.mkdtempSync(path.join(os.tmpdir(), "vorta-chromium-"));
// DevTools over a pipe (fd 3 to the browser, fd 4 from it, one JSON message per NUL-terminated
// record): no debugging port to find or to share, and no WebSocket client, which Debian's Node
// does not have. The browser leads its own process group so that all of it can be stopped.
const browser = spawn("chromium", [
  "--headless=new", "--no-sandbox", "--disable-gpu", "--autoplay-policy=no-user-gesture-required",
  "--remote-debugging-pipe", `--user-data-dir=${profile}`, "--window-size=1280,960",
  "--no-first-run", "--no-default-browser-check", "--mute-audio", "about:blank",
], { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"], detached: true });
let browserLog = "";
browser.stderr.on("data", (d) => { browserLog = (browserLog + d).slice(-4000); });
let browserExited = false;
browser.on("error", (e) => { browserExited = true; browserLog += `\n${e.message}`; });
browser.on("exit", () => { browserExited = true; });

let nextId = 1;
const pending = new Map();
const listeners = [];
const receive = (text) => {
  const msg = JSON.parse(text);
  if (msg.id && pending.has(msg.id)) {
    const { resolve, reject, timer } = pending.get(msg.id);
    clearTimeout(timer);
    pending.delete(msg.id);
    msg.error ? reject(new Error(JSON.stringify(msg.error))) : resolve(msg.result);
  } else if (msg.method) {
    for (const l of listeners) l(msg);
  }
};
let chunks = [];
browser.stdio[4].on("data", (chunk) => {
  let from = 0;
  for (let end = chunk.indexOf(0); end >= 0; end = chunk.indexOf(0, from)) {
    chunks.push(chunk.subarray(from, end));
    receive(Buffer.concat(chunks).toString("utf8"));
    chunks = [];
    from = end + 1;
  }
  if (from < chunk.length) chunks.push(chunk.subarray(from));
});
browser.stdio[3].on("error", () => {});
// Every command has a deadline: a browser that stops answering fails the test, never hangs it.
const send = (method, params = {}, sessionId, ms = 60000) => new Promise((resolve, reject) => {
  if (browserExited) return reject(new Error(`chromium is not running (${method})`));
  const id = nextId++;
  const timer = setTimeout(() => {
    pending.delete(id);
    reject(new Error(`chromium did not answer ${method} within ${ms / 1000} s`));
  }, ms);
  pending.set(id, { resolve, reject, timer });
  browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
});

// Stops the browser: politely, then every process left that runs with this test's profile.
let stopping = null;
const stopBrowser = () => (stopping ||= stopNow());
const stopNow = async () => {
  if (!browserExited) await send("Browser.close", {}, undefined, 5000).catch(() => {});
  for (let i = 0; i < 30 && !browserExited; ++i) await sleep(100);
  try { process.kill(-browser.pid, "SIGKILL"); } catch { /* already gone */ }
  for (let i = 0; i < 50; ++i) {
    const left = profilePids();
    if (left.length === 0) break;
    for (const pid of left) {
      try { process.kill(pid, "SIGKILL"); } catch { /* already gone */ }
    }
    await sleep(100);
  }
  // Only once nothing writes into the profile can it be removed whole.
  try {
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
  } catch (e) {
    console.error(`could not remove ${profile}: ${e.message}`);
  }
};
// The processes of this browser: those whose command line names this test's profile.
function profilePids() {
  const pids = [];
  for (const pid of fs.readdirSync("/proc").filter((p) => /^\d+$/.test(p))) {
    try {
      if (fs.readFileSync(`/proc/${pid}/cmdline`, "utf8").includes(profile)) pids.push(Number(pid));
    } catch { /* gone */ }
  }
  return pids;
}
// The whole test has a deadline too, and an interrupted test leaves no browser behind.
const abort = async (why) => {
  console.error(`FAIL ${why}`);
  await stopBrowser();
  server.close();
  console.log("browser test: FAILED");
  process.exit(1);
};
const deadline = setTimeout(() => abort("the browser test took longer than 10 minutes"), 600000);
for (const signal of ["SIGINT", "SIGTERM"]) process.on(signal, () => abort(`stopped by ${signal}`));
process.on("uncaughtException", (e) => abort(`${e.stack || e}`));
process.on("unhandledRejection", (e) => abort(`${(e && e.stack) || e}`));

await send("Browser.getVersion").catch((e) => abort(`chromium did not start: ${e.message}\n${browserLog}`));
const { targetId } = await send("Target.createTarget", { url: "about:blank" });
const { sessionId } = await send("Target.attachToTarget", { targetId, flatten: true });
const page = (method, params) => send(method, params, sessionId);
const errors = [];
listeners.push((msg) => {
  if (msg.method === "Runtime.exceptionThrown") errors.push(msg.params.exceptionDetails.text);
  if (msg.method === "Runtime.consoleAPICalled" && msg.params.type === "error") {
    errors.push(msg.params.args.map((a) => a.value).join(" "));
  }
  if (msg.method === "Log.entryAdded" && msg.params.entry.level === "error") {
    errors.push(msg.params.entry.text);
  }
});
await page("Runtime.enable");
await page("Log.enable");
await page("Page.enable");
// A fixed viewport: the picture then fills it at scale 4.
await page("Emulation.setDeviceMetricsOverride", { width: 1280, height: 960, deviceScaleFactor: 1, mobile: false });
const evaluate = async (expression) => {
  const r = await page("Runtime.evaluate", { expression, returnByValue: true, awaitPromise: true });
  if (r.exceptionDetails) throw new Error(expression + ": " + r.exceptionDetails.text);
  return r.result.value;
};
const waitFor = async (expression, ms) => {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await evaluate(expression)) return true;
    await sleep(100);
  }
  return false;
};
const click = async () => {
  for (const type of ["mousePressed", "mouseReleased"]) {
    await page("Input.dispatchMouseEvent", { type, x: 640, y: 480, button: "left", clickCount: 1 });
  }
};
const key = async (k, code) => {
  for (const type of ["keyDown", "keyUp"]) {
    await page("Input.dispatchKeyEvent", { type, key: k, code, windowsVirtualKeyCode: code === "Escape" ? 27 : 0 });
  }
};
// Records each drawn frame: when, and at which song frame the picture was aimed.
const hook = `(() => {
  window.vortaFrames = [];
  Module.vortaOnFrame = () => {
    const a = Module.vortaAudio;
    vortaFrames.push({ t: performance.now(), sample: a ? a.heard : -1 });
  };
  return true;
})()`;
// The canvas as the framebuffer: FNV-1a 64 over its pixels as 0x00RRGGBB words, and the song
// frame of its picture.
const grab = `(() => {
  const c = Module.canvas;
  const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
  let h = 0xcbf29ce484222325n;
  const mask = 0xffffffffffffffffn;
  for (let i = 0; i < d.length; i += 4) {
    h ^= BigInt((d[i] << 16) | (d[i + 1] << 8) | d[i + 2]);
    h = (h * 0x100000001b3n) & mask;
  }
  const f = vortaFrames[vortaFrames.length - 1];
  return { hash: h.toString(16).padStart(16, "0"), sample: f ? f.sample : -1 };
})()`;
const load = async () => {
  const t0 = Date.now();
  await page("Page.navigate", { url: pageUrl });
  const ready = await waitFor(`document.body && document.body.dataset.state === "ready"`, 30000);
  return { ready, ms: Date.now() - t0 };
};
// CPU time of every process of this browser, in seconds.
const cpuSeconds = () => {
  let ticks = 0;
  for (const pid of profilePids()) {
    try {
      const f = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
      ticks += Number(f[11]) + Number(f[12]);
    } catch { /* gone */ }
  }
  return ticks / 100;
};

let status = 1;
try {
  // First visit: start, the audio clock, Escape.
  let r = await load();
  check(r.ready, `page ready in ${r.ms} ms`);
  await evaluate(hook);
  const clickAt = await evaluate("performance.now()");
  await click();
  check(await waitFor("vortaFrames.length > 0", 10000), "a frame is drawn after the click");
  const first = await evaluate("vortaFrames[0].t");
  console.log(`load to ready ${r.ms} ms, click to first frame ${(first - clickAt).toFixed(1)} ms`);
  await sleep(1500);
  const t1 = await evaluate("({s: Module.vortaAudio.ctx.state, t: Module.vortaAudio.ctx.currentTime})");
  await sleep(1000);
  const t2 = await evaluate("Module.vortaAudio.ctx.currentTime");
  check(t1.s === "running" && t2 - t1.t > 0.8 && t2 - t1.t < 1.3,
        `audio context ${t1.s}, its time advanced ${(t2 - t1.t).toFixed(3)} s in 1 s`);
  const heard = await evaluate("vortaFrames[vortaFrames.length - 1].sample");
  check(heard > 44100 * 2 && heard < 44100 * 4.5, `the picture is aimed at song frame ${heard} after ~2.5 s`);
  await key("Escape", "Escape");
  check(await waitFor(`document.body.dataset.state === "ended"`, 3000), "Escape ends the show");
  check(await evaluate("Module.vortaAudio === null"), "the audio context is closed after Escape");

  // A module the decoder refuses: the page says so and stays alive (no abort, no exception).
  if (badDir) {
    await page("Page.navigate", { url: pageUrl.replace("/index.html", "/bad/index.html") });
    check(await waitFor(`document.body && document.body.dataset.state === "ready"`, 30000),
          "the page with a bad module is ready");
    const before = errors.length;
    await click();
    const refused = await waitFor(`document.getElementById("prompt").textContent ===
                                   "lurba sanoo: vittu saatana perkele"`, 10000);
    await sleep(500);
    const state = await evaluate("document.body.dataset.state");
    check(refused && state !== "error" && errors.length === before,
          `a bad module is refused with the show's message (state ${state}` +
          `${errors.length > before ? ", errors: " + errors.slice(before).join(" | ") : ""})`);
    errors.length = before;
  }

  // Second visit: the whole song, sampling the canvas against the recorded frames.
  r = await load();
  check(r.ready, `page ready again in ${r.ms} ms`);
  await evaluate(hook);
  await click();
  await waitFor("vortaFrames.length > 0", 10000);
  const cpu0 = cpuSeconds(), wall0 = Date.now();
  let samples = 0, exact = 0;
  while ((await evaluate("document.body.dataset.state")) === "playing" && Date.now() - wall0 < 200000) {
    const g = await evaluate(grab);
    const k = Math.round(g.sample * 60 / 44100);
    // The browser's frames fall between the recorded 60 fps steps: the neighbours count too.
    const near = [k - 1, k, k + 1].filter((i) => golden[i]).some((i) => golden[i].hash === g.hash);
    if (g.sample >= 0) { ++samples; if (near) ++exact; }
    if (Math.abs(g.sample - 75 * 44100) < 44100 / 2 && !fs.existsSync(path.join(outDir, "show.png"))) {
      const shot = await page("Page.captureScreenshot", { format: "png" });
      fs.writeFileSync(path.join(outDir, "show.png"), Buffer.from(shot.data, "base64"));
    }
    await sleep(250);
  }
  const wall = (Date.now() - wall0) / 1000, cpu = cpuSeconds() - cpu0;
  const frames = await evaluate("vortaFrames.length");
  console.log(`played ${wall.toFixed(1)} s, ${frames} frames (${(frames / wall).toFixed(1)} per s), ` +
              `browser CPU ${cpu.toFixed(1)} s = ${(100 * cpu / wall).toFixed(1)} % of one core`);
  console.log(`canvas samples identical to a recorded frame at their music position: ${exact} of ${samples}`);
  check(await evaluate(`document.body.dataset.state === "ended"`), "the show ends with the song");
  const last = await evaluate(grab);
  const end = golden[golden.length - 1];
  check(last.hash === end.hash, `the end picture stays on the canvas (${last.hash})`);
  // The screenshot of the canvas against the recorded end picture, scaled by the page's whole
  // factor; the "play again" line is hidden for it, as it lies over the picture.
  const rect = await evaluate(`(() => {
    document.getElementById("prompt").style.visibility = "hidden";
    const r = Module.canvas.getBoundingClientRect();
    return { x: r.x, y: r.y, width: r.width, height: r.height };
  })()`);
  const scale = rect.width / 320;
  check(Number.isInteger(scale) && rect.height === 240 * scale, `canvas shown at a whole scale: ${scale}`);
  const shot = await page("Page.captureScreenshot", { format: "png", clip: { ...rect, scale: 1 } });
  const shotFile = path.join(outDir, "end.png");
  fs.writeFileSync(shotFile, Buffer.from(shot.data, "base64"));
  const scaled = path.join(outDir, "end_expected.png");
  execFileSync("convert", [path.join(goldenDir, `frame_${String(end.k).padStart(5, "0")}.png`),
                           "-scale", `${100 * scale}%`, scaled]);
  // compare prints the count of differing pixels on stderr; exit status 0 means none differ.
  const cmp = spawnSync("compare", ["-metric", "AE", shotFile, scaled, "null:"], { encoding: "utf8" });
  const differing = cmp.stderr.trim();
  check(cmp.status === 0 && differing !== "" && Number(differing) === 0, `end screenshot vs recorded frame ×4: ${differing.trim()} pixels differ of ${rect.width * rect.height}`);
  check(errors.length === 0, `console without errors${errors.length ? ": " + errors.join(" | ") : ""}`);
  status = failures.length ? 1 : 0;
} catch (e) {
  console.error("FAIL", e.message);
  if (browserExited) console.error(`chromium exited; its last words:\n${browserLog}`);
} finally {
  clearTimeout(deadline);
  await stopBrowser();
  server.close();
}
console.log(status ? `browser test: FAILED (${failures.length} checks failed${failures.length ? "" : ", or it stopped early"})`
                   : "browser test: all passed");
process.exit(status);

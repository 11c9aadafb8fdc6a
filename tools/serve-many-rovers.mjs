// sendra-sim serve on a scenario of many rovers (30 m apart, a hundred to a row, every one in
// sight of the focus) in headless chromium: how long until the page has its first frame and
// every rover, the simulation's pace, and how often the page draws while the focus drives
// (each frame moves it), with how serve's loop spent each frame meanwhile: on a processor,
// waiting for one (the machine busy elsewhere) or asleep. The scenario is the build's
// scene_writer's, beside SENDRA_SIM. For this machine's figures, not a test:
//   node tools/serve-many-rovers.mjs SENDRA_SIM WEB_NPM_DIR CHROMIUM [ROVERS] [SECONDS]
import {mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {execFileSync} from 'node:child_process';
import {dirname, join} from 'node:path';
import {playwright, startServe} from './serve-start.mjs';

const [sim, npm, chromiumPath, rovers = '10000', seconds = '10'] = process.argv.slice(2);
if (!chromiumPath)
	throw new Error('usage: serve-many-rovers.mjs SENDRA_SIM WEB_NPM_DIR CHROMIUM [ROVERS] [SECONDS]');
const {chromium} = playwright(npm);

// The rover grid of the tests and benchmarks (tests/support/Scenes.h), from scene_writer,
// which the build makes beside sendra-sim.
function scenario(n) {
	const writer = join(dirname(sim), 'scene_writer');
	return execFileSync(writer, ['grid', String(n), '30'], {maxBuffer: 1 << 30});
}

const work = mkdtempSync(join(tmpdir(), 'sendra-many-rovers-'));
writeFileSync(join(work, 'rovers.scn'), scenario(rovers));
const started = Date.now();
const serving = startServe(sim, ['rovers.scn'], work), server = serving.server;
const since = () => ((Date.now() - started) / 1000).toFixed(1);
// [ms] serve's loop thread has run and waited to run so far (Linux's scheduler statistics).
const loopTimes = () => readFileSync(`/proc/${server.pid}/task/${server.pid}/schedstat`, 'utf8').split(' ', 2)
	.map(ns => Number(ns) / 1e6);
try {
	const url = await serving.url;
	console.log(`${since()} s: serving ${rovers} rovers`);
	const dt = (await (await fetch(new URL('api/session', url))).json()).dt;  // [s] a frame's step
	const context = await chromium.launchPersistentContext(join(work, 'profile'), {
		executablePath: chromiumPath, headless: true, viewport: {width: 960, height: 600},
		args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
		       '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader']});
	const page = context.pages()[0] || await context.newPage();
	const opened = Date.now();
	await page.goto(url);
	await page.waitForFunction(() => window.sendra && window.sendra.frame, null, {timeout: 600000, polling: 100});
	console.log(`first frame ${((Date.now() - opened) / 1000).toFixed(1)} s after the page opened`);
	await page.waitForFunction(() => window.sendra.loading === null, null, {timeout: 600000, polling: 250});
	const shown = await page.evaluate(() => [window.sendra.drawn.length, window.sendra.markers, window.sendra.frame.rate]);
	console.log(`all in sight ${((Date.now() - opened) / 1000).toFixed(1)} s after: ${shown[0]} in 3D, ` +
	            `${shown[1]} markers; simulation ${shown[2].toFixed(1)} frames/s`);
	await page.locator('#view').focus();
	await page.keyboard.press('Numpad8');
	await page.keyboard.down('NumpadAdd');
	await page.waitForTimeout(3000);
	await page.keyboard.up('NumpadAdd');
	const sample = () => page.evaluate(() => [window.sendra.rendered, window.sendra.frame.simt, window.sendra.frame.rate,
	                                          window.sendra.scale]);
	const [d0, t0] = await sample(), w0 = Date.now(), [run0, wait0] = loopTimes();
	await page.waitForTimeout(Number(seconds) * 1000);
	const [d1, t1, rate, scale] = await sample(), span = (Date.now() - w0) / 1000, [run1, wait1] = loopTimes();
	console.log(`driving: the page drew ${((d1 - d0) / span).toFixed(1)} times a second, at ${Math.round(scale * 100)} % ` +
	            `of the resolution at the end; the simulation ran ` +
	            `${((t1 - t0) / span).toFixed(2)} simulated seconds a second at ${rate.toFixed(1)} frames/s`);
	const frames = (t1 - t0) / dt, perFrame = ms => (ms / frames).toFixed(1);
	console.log(`serve's loop, per frame of ${perFrame(span * 1000)} ms: ${perFrame(run1 - run0)} ms on a processor ` +
	            `(the host's frame and serve's own work), ${perFrame(wait1 - wait0)} ms waiting for one, the rest ` +
	            `asleep; load average ${readFileSync('/proc/loadavg', 'utf8').split(' ')[0]}`);
	const shot = join(tmpdir(), 'sendra-many-rovers.png');
	await page.screenshot({path: shot});
	console.log(`screenshot: ${shot}`);
	await context.close();
} finally {
	server.kill('SIGINT');
	await new Promise(resolve => server.exitCode !== null ? resolve() : server.on('exit', resolve));
	rmSync(work, {recursive: true, force: true});
}

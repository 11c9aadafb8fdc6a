// The page of `sendra-sim serve` in Debian's chromium, driven by playwright-core, with the
// "Two rovers" scenario: both rovers are drawn, and nothing is drawn again while they stand
// still; keypad 8 and a held keypad plus put the focus in forward gear at speed on the HUD, J
// opens its sunscreen, the page's toggle switches its control surfaces off; F3 and the page's
// focus control step the focus, and the HUD follows it. A screenshot at rest is kept. Run by
// ctest:
//   node drive.mjs --sim SENDRA_SIM --chromium CHROMIUM --scenario SCN --npm WEB_NPM_DIR --artifacts DIR
import {spawn} from 'node:child_process';
import {mkdtempSync, mkdirSync, rmSync, readdirSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const args = {};
for (let i = 2; i + 1 < process.argv.length; i += 2)
	args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const name of ['sim', 'chromium', 'scenario', 'npm', 'artifacts'])
	if (!args[name])
		throw new Error(`missing --${name}`);

let chromium;
try {
	chromium = createRequire(join(args.npm, 'package.json'))('playwright-core').chromium;
} catch (err) {
	console.error(`playwright-core is not installed in ${args.npm}: npm could not install the page's ` +
	              `packages when sendra-sim was built (${err.message})`);
	process.exit(1);
}

const work = mkdtempSync(join(tmpdir(), 'sendra-serve-browser-'));
let server = null, context = null, failures = 0;

function check(ok, what) {
	console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
	if (!ok)
		++failures;
	return ok;
}

// sendra-sim serve on a free loopback port, in the scratch folder so that its save lands there.
function startServer() {
	return new Promise((resolve, reject) => {
		server = spawn(args.sim, ['serve', args.scenario, '--port', '0'], {cwd: work, stdio: ['ignore', 'pipe', 'pipe']});
		let out = '';
		const timer = setTimeout(() => reject(new Error(`no address from sendra-sim serve: ${out}`)), 20000);
		server.stdout.on('data', d => {
			out += d;
			const m = out.match(/at (http:\/\/127\.0\.0\.1:\d+\/)/);
			if (m) {
				clearTimeout(timer);
				resolve(m[1]);
			}
		});
		server.stderr.on('data', d => process.stderr.write(`sendra-sim: ${d}`));
		server.on('exit', code => reject(new Error(`sendra-sim serve exited with ${code}: ${out}`)));
	});
}

function stopServer() {
	return new Promise(resolve => {
		if (!server || server.exitCode !== null)
			return resolve(server ? server.exitCode : null);
		server.removeAllListeners('exit');
		server.on('exit', code => resolve(code));
		server.kill('SIGINT');
	});
}

async function state(url) {
	const r = await fetch(new URL('api/state', url));
	return r.json();
}

// Whether the canvas shows something: many colours, not one cleared background.
function canvasDrawn() {
	const source = document.querySelector('#view canvas');
	if (!source || !window.sendra || window.sendra.drawn.length === 0 || !window.sendra.frame || window.sendra.rendered < 1)
		return false;
	const c = document.createElement('canvas');
	c.width = 64;
	c.height = 48;
	const g = c.getContext('2d');
	g.drawImage(source, 0, 0, c.width, c.height);
	const px = g.getImageData(0, 0, c.width, c.height).data;
	const colours = new Set();
	for (let i = 0; i < px.length; i += 4)
		colours.add((px[i] >> 3) << 10 | (px[i + 1] >> 3) << 5 | (px[i + 2] >> 3));
	return colours.size > 40;
}

try {
	const url = await startServer();
	console.log(`serving at ${url}`);
	// A fresh profile, headless, with nothing of the browser's own going to the network.
	context = await chromium.launchPersistentContext(join(work, 'profile'), {
		executablePath: args.chromium,
		headless: true,
		viewport: {width: 960, height: 600},
		args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
		       '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
	});
	const page = context.pages()[0] || await context.newPage();
	page.on('pageerror', e => { check(false, `no error in the page: ${e.message}`); });
	await page.goto(url);
	await page.waitForFunction(canvasDrawn, null, {timeout: 60000, polling: 250});
	await page.waitForFunction(() => window.sendra.drawn.length === 2 && window.sendra.settled(), null,
	                           {timeout: 20000}).catch(() => {});
	const drawn = await page.evaluate(() => window.sendra.drawn);
	check(drawn.includes('Sendra-1') && drawn.includes('Sendra-2'), `both rovers are drawn: ${drawn}`);
	const texts = await page.evaluate(() => [document.getElementById('keys').textContent,
	                                         document.getElementById('status').textContent]);
	check(/mouse wheel/.test(texts[0]) && /F3/.test(texts[0]), `the key list has the mouse and F3: ${texts[0]}`);
	check(/camera station 3\.12 m ahead, 0\.70 m up, looking ahead/.test(texts[1]),
	      `the status line shows the camera station: ${texts[1]}`);

	// At rest: three seconds of frames go by, and the page draws none of them.
	const rest = await page.evaluate(() => ({frame: window.sendra.frame.frame, rendered: window.sendra.rendered}));
	await page.waitForFunction(f => window.sendra.frame.frame >= f, rest.frame + 180, {timeout: 30000});
	const restDraws = await page.evaluate(r => window.sendra.rendered - r, rest.rendered);
	check(restDraws === 0, `nothing is drawn at rest: ${restDraws} draws in 180 frames`);
	mkdirSync(args.artifacts, {recursive: true});
	const shot = join(args.artifacts, 'serve-page.png');
	await page.screenshot({path: shot});
	console.log(`screenshot of both rovers: ${shot}`);

	await page.locator('#view').focus();
	await page.keyboard.press('Numpad8');
	await page.keyboard.down('NumpadAdd');
	await page.waitForTimeout(2000);
	await page.keyboard.up('NumpadAdd');
	await page.waitForFunction(() => /Forward Gear/.test(document.getElementById('hud').textContent), null,
	                           {timeout: 10000}).catch(() => {});
	const hud = await page.locator('#hud').textContent();
	check(hud.includes('Forward Gear'), `the HUD reads "Forward Gear": ${hud}`);
	const speed = Number((hud.match(/Current Ground Speed ([0-9.]+)/) || [])[1]);
	check(speed > 0, `the HUD shows a speed above 0: ${speed}`);

	const before = (await state(url)).vessel.animations[0];
	await page.keyboard.press('KeyJ');
	let after = before;
	for (let i = 0; i < 100 && after <= before; ++i) {
		await page.waitForTimeout(100);
		after = (await state(url)).vessel.animations[0];
	}
	// The sunscreen's slats are the rover's first animations.
	check(after > before, `J opens the sunscreen: its state rose from ${before} to ${after}`);

	// The built-in rover has its control surfaces on; the page's toggle switches them off.
	const afcText = await page.locator('#afc').textContent();
	check(/control surfaces 7/.test(afcText), `the page shows the control-surface mode 7: ${afcText}`);
	await page.locator('#afc').click();
	let afc = (await state(url)).vessel.afc;
	for (let i = 0; i < 100 && afc !== 0; ++i) {
		await page.waitForTimeout(100);
		afc = (await state(url)).vessel.afc;
	}
	check(afc === 0, `the toggle switches the control surfaces off: mode ${afc}`);

	// The focus: F3 steps to Sendra-2, in neutral; the page's control back to Sendra-1.
	const focusSteps = [['F3', 'Sendra-2', 'Neutral Gear'], ['click', 'Sendra-1', 'Forward Gear']];
	for (const [how, name, gear] of focusSteps) {
		if (how === 'F3')
			await page.keyboard.press('F3');
		else
			await page.locator('#focus').click();
		await page.waitForFunction(([n, g]) => window.sendra.focus === n &&
		                                        document.getElementById('hud').textContent.includes(g),
		                           [name, gear], {timeout: 10000}).catch(() => {});
		const [shown, hudNow, button] = await page.evaluate(() => [window.sendra.focus,
			document.getElementById('hud').textContent, document.getElementById('focus').textContent]);
		const host = (await state(url)).vessel.name;
		check(shown === name && host === name && button.includes(name),
		      `${how} puts ${name} in focus: the page shows ${shown} (${button}), the host has ${host}`);
		check(hudNow.includes(gear), `the HUD follows ${name}: ${hudNow}`);
	}

} catch (err) {
	check(false, `the drive ran: ${err.stack || err}`);
} finally {
	if (context)
		await context.close().catch(() => {});
	const code = await stopServer();
	check(code === 0, `sendra-sim serve stopped cleanly on SIGINT (exit ${code})`);
	check(readdirSync(work).some(f => /^Two rovers-quicksave-\d{4}\.scn$/.test(f)), 'and saved the simulation');
	rmSync(work, {recursive: true, force: true});
}
console.log(`${failures === 0 ? 1 : 0} passed, ${failures === 0 ? 0 : 1} failed`);
process.exit(failures === 0 ? 0 : 1);

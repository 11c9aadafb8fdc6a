// The page of `sendra-sim serve` in Debian's chromium, driven by playwright-core, with the "Two
// rovers" scenario, as a first-time user meets it: the status line says what loads and how far
// along; the keys are listed until the user folds them, which the page remembers; both rovers are
// drawn under the Sun the status line places, and while they stand still few frames come and
// nothing is drawn again; the camera station is named in the cockpit view only, and V says where it
// went; keypad 8 and a held keypad plus put the focus in forward gear at speed on the HUD and the
// chase camera stays behind it through a turn; J opens its sunscreen, the page's toggle switches
// its control surfaces off; F3 and the page's focus control step the focus, and the HUD follows it;
// the rover is driven forward, steered and stopped with a laptop's keys (which reach the host as
// the keypad's) and again with the on-screen controls, the steering indicator showing the rudder
// and the front wheels; the header links the manual; in a small window the HUD and the key list
// stay readable; F3 with one vessel says why the focus stays; around a focus in flight the
// vessels near it are drawn where they are in its frame and F3 passes a station that cannot take
// the focus; pages of two other origins that frame
// the page nine times each get no page, no token and no stream, and the user's own tab is still
// served; a refused or unreachable server is said so. Screenshots are kept, and each check reads
// the page as its screenshot shows it. Run by ctest:
//   node drive.mjs --sim SENDRA_SIM --chromium CHROMIUM --scenario SCN --npm WEB_NPM_DIR --artifacts DIR
import {spawn} from 'node:child_process';
import {createServer} from 'node:http';
import {copyFileSync, existsSync, mkdtempSync, mkdirSync, readdirSync, rmSync, symlinkSync, writeFileSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

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

// sendra-sim serve on a free loopback port, in the scratch folder so that its save lands there;
// its address once it listens.
function serve(scenarioArgs) {
	const child = spawn(args.sim, ['serve', ...scenarioArgs, '--port', '0'], {cwd: work, stdio: ['ignore', 'pipe', 'pipe']});
	const address = new Promise((resolve, reject) => {
		let out = '';
		const timer = setTimeout(() => reject(new Error(`no address from sendra-sim serve: ${out}`)), 20000);
		child.stdout.on('data', d => {
			out += d;
			const m = out.match(/at (http:\/\/127\.0\.0\.1:\d+\/)/);
			if (m) {
				clearTimeout(timer);
				resolve(m[1]);
			}
		});
		child.stderr.on('data', d => process.stderr.write(`sendra-sim: ${d}`));
		child.on('exit', code => reject(new Error(`sendra-sim serve exited with ${code}: ${out}`)));
	});
	return {child, address};
}

function startServer() {
	const s = serve([args.scenario]);
	server = s.child;
	return s.address;
}

let stopped = null;
function stopServer() {
	if (!stopped)
		stopped = new Promise(resolve => {
			if (!server || server.exitCode !== null)
				return resolve(server ? server.exitCode : null);
			server.removeAllListeners('exit');
			server.on('exit', code => resolve(code));
			server.kill('SIGINT');
		});
	return stopped;
}

// A screenshot, and what it shows as the page's state: the checks read that state.
async function shoot(page, name) {
	mkdirSync(args.artifacts, {recursive: true});
	const path = join(args.artifacts, name);
	await page.screenshot({path});
	console.log(`screenshot: ${path}`);
	return page.evaluate(() => {
		const seen = id => {
			const e = document.getElementById(id), r = e && e.getBoundingClientRect();
			return !!e && e.checkVisibility() && r.width > 0 && r.height > 0 && r.top < innerHeight && r.left < innerWidth;
		};
		return {status: document.getElementById('status').textContent, legendOpen: document.getElementById('legend').open,
		        keysSeen: seen('keys'), notice: seen('notice') ? document.getElementById('notice').textContent : '',
		        message: seen('message') ? document.getElementById('message').textContent : ''};
	});
}

// What a first-time user sees once the page has loaded: what it said while loading, the
// keys, the status line without the debug figures or a cockpit station in the chase view.
async function firstLook(page) {
	const [seen, said] = await page.evaluate(() => [window.statusSeen, window.sendra.progress]);
	check(said.some(t => /^loading the vessels' meshes: [\d,]+ KB of [\d,]+ KB$/.test(t)) &&
	      said.includes('waiting for the first frame…'),
	      `the page said what was loading and how much of it: ${said.slice(0, 6).join(' | ')}`);
	check(!seen.some(t => /^connecting…$/.test(t)), 'it never said only "connecting…"');
	const first = await shoot(page, 'serve-page-first.png');
	check(first.legendOpen && first.keysSeen, 'the key list is open on the first visit');
	const keys = await page.locator('#keys').textContent();
	check(/mouse wheel/.test(keys) && /F3/.test(keys) && /keypad 8, ↑/.test(keys) && /keypad \+, =/.test(keys) &&
	      /keypad 5, N/.test(keys) && /buttons/.test(keys),
	      `the key list has the keys with their laptop's seconds, the buttons, the mouse and F3: ${keys}`);
	const [title, manual] = await page.evaluate(async () => {
		const a = document.querySelector('#title a');
		return [document.getElementById('title').textContent, a ? (await fetch(a.href)).status : 0];
	});
	check(/^Sendra2016, a rover for Orbiter 2016/.test(title) && /driver's manual/.test(title) && manual === 200,
	      `the header says what the page is and links the manual (${manual}): ${title}`);
	check(/chase view/.test(first.status) && !/camera station/.test(first.status) && !/draws/.test(first.status),
	      `the status line names no cockpit station and no draws in the chase view: ${first.status}`);
	// Lit by the Sun where it stands over Taurus-Littrow in the scenario's morning.
	const sun = await page.evaluate(() => window.sendra.sun);
	check(/the Sun 27° up in the east, local solar time 07:55/.test(first.status) && sun && sun.up && sun.dir[0] > 0.8,
	      `the status line says where the Sun stands, and the page's light comes from there: ${JSON.stringify(sun)}`);
	// Folded, it stays folded after a reload; open again for the rest of the drive.
	await page.locator('#legend summary').click();
	await page.waitForFunction(() => localStorage.getItem('sendra-sim.keys-folded') === 'yes', null, {timeout: 5000})
		.catch(() => {});
	await page.reload();
	await page.waitForFunction(() => window.sendra && window.sendra.frame && window.sendra.settled && window.sendra.settled(),
	                           null, {timeout: 60000});
	const folded = await shoot(page, 'serve-page-folded.png');
	check(!folded.legendOpen && !folded.keysSeen, 'the key list stays folded after a reload once the user folded it');
	await page.locator('#legend summary').click();
	await page.waitForFunction(() => window.sendra.drawn.length === 2 && window.sendra.settled(), null, {timeout: 20000});
}

// The cockpit view names the camera station; V says where it went, in either view.
async function views(page) {
	await page.locator('#view').focus();
	await page.keyboard.press('F1');
	await page.waitForFunction(() => window.sendra.view === 'cockpit', null, {timeout: 5000});
	const cockpit = await shoot(page, 'serve-page-cockpit.png');
	check(/cockpit view/.test(cockpit.status) && /camera station 3\.12 m ahead, 0\.70 m up, looking ahead/.test(cockpit.status),
	      `the cockpit view names its camera station: ${cockpit.status}`);
	await page.keyboard.press('F1');
	await page.keyboard.press('KeyV');
	await page.waitForFunction(() => /V: camera station/.test(document.getElementById('notice').textContent) &&
	                                 /chase view/.test(document.getElementById('status').textContent), null,
	                           {timeout: 10000}).catch(() => {});
	const v = await shoot(page, 'serve-page-v.png');
	check(/^V: camera station .*\(seen in the cockpit view: F1 or C\)$/.test(v.notice) && !/camera station/.test(v.status),
	      `V in the chase view says where the station went: ${v.notice}`);
}

// Right rudder while driving: the rover turns, and the chase camera turns with it.
async function chaseThroughATurn(page, url) {
	const heading = async () => (await state(url)).vessel.hdg;
	const before = await heading();
	await page.keyboard.down('ArrowRight');
	let turned = 0;
	for (let i = 0; i < 200 && Math.abs(turned) < 0.5; ++i) {
		await page.waitForTimeout(100);
		turned = (await heading()) - before;
	}
	await page.keyboard.up('ArrowRight');
	await page.waitForFunction(() => window.sendra.settled(), null, {timeout: 10000}).catch(() => {});
	await shoot(page, 'serve-page-turned.png');
	const angle = await page.evaluate(() => window.sendra.chaseAngle());
	check(Math.abs(turned) >= 0.5 && Math.abs(angle) < 0.15,
	      `the chase camera stays behind the rover through a turn of ${turned.toFixed(2)} rad: ${angle.toFixed(3)} rad off`);
}

// The focus as the page draws it, merged by material and posed on the GPU: each visible group
// of its mesh moved by the pose the server sent for it. Compared by the moments of the
// triangles' corners, which do not depend on their order. And the steps of the drawing's
// resolution by draw cost.
async function posedAsSent(page) {
	const [doc, drawn, steps] = await page.evaluate(async () => {
		const {nextStep} = await import('/resolution.js');
		const costs = [[0, 200], [2, 200], [3, 200], [1, 50], [1, 20], [0, 20]];
		return [await (await fetch('/api/mesh')).json(), window.sendra.posedMeshes(window.sendra.focus),
		        costs.map(([step, cost]) => nextStep(step, cost))];
	});
	check(steps.join() === '1,3,3,1,0,0', `slow draws step the resolution down, quick ones up: ${steps}`);
	const moments = vertices => {
		const m = new Array(10).fill(0);
		for (const [x, y, z] of vertices)
			[1, x, y, z, x * x, y * y, z * z, x * y, y * z, z * x].forEach((t, i) => { m[i] += t; });
		return m;
	};
	for (const {mesh, poses, corners} of drawn) {
		const groups = doc.meshes.find(m => m.name === mesh).groups, expected = [];
		groups.forEach((g, gi) => {
			const p = poses[gi] || [0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0];
			for (const k of g.flags & 2 ? [] : g.indices) {
				const [x, y, z] = g.positions.slice(3 * k, 3 * k + 3);
				expected.push([0, 1, 2].map(r => p[2 + 3 * r] * x + p[3 + 3 * r] * y + p[4 + 3 * r] * z + p[11 + r]));
			}
		});
		const want = moments(expected), got = moments(corners);
		const off = Math.max(...want.map((w, i) => Math.abs(w - got[i]) / Math.max(1, Math.abs(w))));
		check(poses.filter(Boolean).length > 20 && off < 1e-5,
		      `the page draws ${mesh}'s ${expected.length / 3} triangles where ${poses.filter(Boolean).length} poses put ` +
		      `them: ${off.toExponential(1)} off`);
	}
}

// Draws that cost too much take the scene to fewer pixels; once nothing moves, it is drawn
// whole again.
async function wholeWhenStill(page) {
	await page.evaluate(() => { for (let i = 0; i < 6 * 3; ++i) window.sendra.resolution.took(200); });
	// The chase camera turned a little by the mouse: the scene moves.
	const before = await page.evaluate(() => window.sendra.rendered);
	await page.mouse.move(480, 200);
	await page.mouse.down();
	await page.mouse.move(500, 205, {steps: 4});
	await page.mouse.up();
	await page.waitForFunction(r => window.sendra.rendered > r && window.sendra.drawnScale < 1, before, {timeout: 10000})
		.catch(() => {});
	const moving = await page.evaluate(() => window.sendra.drawnScale);
	await page.waitForFunction(() => window.sendra.settled() && window.sendra.drawnScale === 1, null, {timeout: 10000})
		.catch(() => {});
	const [still, scale] = await page.evaluate(() => [window.sendra.drawnScale, window.sendra.scale]);
	check(moving < 1 && still === 1 && scale < 1,
	      `a scene drawn at ${moving.toFixed(2)} of its pixels while it moves is drawn whole once still: ${still}`);
	await page.evaluate(() => { for (let i = 0; i < 6 * 3; ++i) window.sendra.resolution.took(1); });
}

// A page whose request for a stream token is refused says so, with the server's reason.
async function refused(context, url) {
	const other = await context.newPage();
	await other.route('**/api/token', route => route.fulfill({status: 403, body: 'not for this page (the test)'}));
	await other.goto(url);
	await other.waitForFunction(() => /Refused/.test(document.getElementById('message').textContent), null,
	                            {timeout: 20000}).catch(() => {});
	const shown = await shoot(other, 'serve-page-refused.png');
	check(/^Refused: the server refused \/api\/token \(403\): not for this page \(the test\)$/.test(shown.message),
	      `a refusal is said with its reason: ${shown.message}`);
	await other.close();
}

const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// Asks fn until it answers something true, for at most timeout ms (a bound on a broken page,
// not a time anything must take); its last answer.
async function until(fn, timeout = 20000) {
	const end = Date.now() + timeout;
	let v = await fn();
	while (!v && Date.now() < end) {
		await sleep(100);
		v = await fn();
	}
	return v;
}

const hudOf = s => s.vessel.hud.map(t => t.text).join(' | ');
const speedOf = s => Number((hudOf(s).match(/Current Ground Speed ([0-9.]+)/) || [])[1]);

// Drives the focus forward, steers it and stops it with the keys or buttons of how: a stop at
// the start, the gears, the speed held up, full rudder to one side, the speed held down to 0.
async function driveSteerStop(page, url, how) {
	const s0 = await state(url);
	const hold = async (code, done) => {
		await how.down(code);
		const v = await until(done);
		await how.up(code);
		return v;
	};
	const tap = async code => {
		await how.down(code);
		await sleep(50);
		await how.up(code);
	};
	const name = how.name;
	await hold(how.slower, async () => speedOf(await state(url)) === 0);
	await tap(how.neutral);
	await until(async () => /Neutral Gear/.test(hudOf(await state(url))));
	await tap(how.forward);
	const geared = await until(async () => /Forward Gear/.test(hudOf(await state(url))));
	check(geared, `${name}: ${how.keys.forward} selects forward gear: ${hudOf(await state(url))}`);
	const heldAs = new Set();
	await hold(how.faster, async () => {
		const s = await state(url);
		s.held.forEach(k => heldAs.add(k));
		return speedOf(s) >= 0.6 && heldAs.has('ADD');
	});
	const moving = await state(url);
	check(speedOf(moving) >= 0.6 && heldAs.has('ADD') && (moving.vessel.lng !== s0.vessel.lng || moving.vessel.lat !== s0.vessel.lat),
	      `${name}: ${how.keys.faster} held speeds the rover up, the host holding keypad + (${[...heldAs]}): ${speedOf(moving)} m/s`);

	const before = moving.vessel.hdg;
	let shown = null;
	await hold(how.steer, async () => {
		const s = await state(url);
		shown = await page.evaluate(() => window.sendra.steering);
		return Math.abs(s.vessel.hdg - before) > 0.05 && shown && Math.abs(shown.rudder) > 0.99 && shown.wheels !== 0;
	});
	const turned = (await state(url)).vessel.hdg - before;
	const sense = how.side === 'left' ? -1 : 1;
	check(Math.abs(turned) > 0.05 && Math.sign(turned) === sense,
	      `${name}: ${how.keys.steer} held turns the rover ${how.side}: ${turned.toFixed(3)} rad`);
	check(shown && shown.rudder * sense > 0.99 && shown.wheels * sense > 0,
	      `${name}: the steering indicator shows full rudder and the front wheels ${how.side}: ` + JSON.stringify(shown));
	await shoot(page, `serve-page-${how.file}-steered.png`);

	await hold(how.slower, async () => speedOf(await state(url)) === 0);
	await tap(how.neutral);
	const stopped = await until(async () => /Neutral Gear/.test(hudOf(await state(url))));
	const at = await state(url);
	await until(async () => (await state(url)).frame > at.frame + 60);
	const later = await state(url);
	check(stopped && speedOf(later) === 0 && later.vessel.lng === at.vessel.lng && later.vessel.lat === at.vessel.lat,
	      `${name}: ${how.keys.slower} held and ${how.keys.neutral} stop the rover in neutral: ${hudOf(later)}`);
}

// The laptop's keys, and the page's buttons pressed with the mouse.
async function laptopAndButtons(page, url) {
	await page.locator('#view').focus();
	await driveSteerStop(page, url, {
		name: 'a laptop\'s keys', file: 'laptop', side: 'left',
		forward: 'ArrowUp', neutral: 'KeyN', faster: 'Equal', slower: 'Minus', steer: 'ArrowLeft',
		keys: {forward: '↑', neutral: 'N', faster: '=', slower: '-', steer: '←'},
		down: code => page.keyboard.down(code), up: code => page.keyboard.up(code),
	});
	const button = code => page.locator(`#drive button[data-code="${code}"]`);
	await driveSteerStop(page, url, {
		name: 'the on-screen controls', file: 'buttons', side: 'right',
		forward: 'Numpad8', neutral: 'Numpad5', faster: 'NumpadAdd', slower: 'NumpadSubtract', steer: 'Numpad3',
		keys: {forward: 'F', neutral: 'N', faster: '+', slower: '−', steer: '▶'},
		down: async code => {
			const box = await button(code).boundingBox();
			await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
			await page.mouse.down();
		},
		up: () => page.mouse.up(),
	});
	const held = await page.evaluate(() => [...document.querySelectorAll('#drive button.held')].length);
	check(held === 0, `no button stays pressed once let go: ${held}`);
}

// A small window: the HUD's text no smaller than 13 px, the key list within a quarter of the view.
async function smallWindow(page) {
	await page.setViewportSize({width: 800, height: 560});
	await page.waitForFunction(() => window.sendra.settled(), null, {timeout: 10000}).catch(() => {});
	await shoot(page, 'serve-page-small.png');
	const [font, share] = await page.evaluate(() => {
		const sizes = [...document.querySelectorAll('#hud span')].map(s => parseFloat(getComputedStyle(s).fontSize));
		const r = document.getElementById('legend').getBoundingClientRect();
		return [Math.min(...sizes), r.width * r.height / (innerWidth * innerHeight)];
	});
	check(font >= 13 && share <= 0.25, `in an 800x560 window the HUD is ${font} px and the key list covers ` +
	      `${Math.round(share * 100)} % of the view`);
	await page.setViewportSize({width: 960, height: 600});
}

// Runs fn(url) with a server of its own for scenarioArgs, stopped with SIGINT afterwards.
async function withServer(scenarioArgs, fn) {
	const {child, address} = serve(scenarioArgs);
	try {
		await fn(await address);
	} finally {
		child.removeAllListeners('exit');
		if (child.exitCode === null && child.signalCode === null) {
			const exited = new Promise(resolve => child.on('exit', resolve));
			child.kill('SIGINT');
			await exited;
		}
	}
}

// A page of its own at url whose F3 says why the focus stays where it is.
async function focusStays(context, url, shot, said, what) {
	const other = await context.newPage();
	await other.goto(url);
	await other.waitForFunction(() => window.sendra && window.sendra.focus && window.sendra.connected, null,
	                            {timeout: 60000});
	await other.locator('#view').focus();
	await other.keyboard.press('F3');
	await other.waitForFunction(() => /^F3: /.test(document.getElementById('notice').textContent), null,
	                            {timeout: 10000}).catch(() => {});
	const shown = await shoot(other, shot);
	check(said.test(shown.notice), `${what}: ${shown.notice}`);
	await other.close();
}

// The built-in scenario's one rover: F3 says why the focus stays where it is.
async function oneVessel(context) {
	await withServer([], url => focusStays(context, url, 'serve-page-one-vessel.png',
		/^F3: Sendra-1 is the scenario's only vessel, so the focus stays where it is$/, 'F3 with one vessel says why nothing changed'));
}

// An Orbiter folder with the release's classes Module1 and Wheel (no modules: plain vessels)
// beside the build's solar system, and two scenarios about the Earth: in Orbit A in focus, W (a
// Wheel, which cannot take the focus) 100 m ahead of it, B 40 m right and 30 m above it; in
// Alone A and W.
function orbitRoot() {
	const root = join(work, 'orbit'), release = fileURLToPath(new URL('../../../fixtures/orbiter-release', import.meta.url));
	const staged = join(dirname(args.sim), 'orbiter', 'Config');
	for (const folder of ['Config/Vessels', 'Meshes', 'Scenarios', 'Modules'])
		mkdirSync(join(root, folder), {recursive: true});
	if (existsSync(staged))
		for (const f of readdirSync(staged, {withFileTypes: true}).filter(f => f.isFile()))
			symlinkSync(join(staged, f.name), join(root, 'Config', f.name));
	for (const cls of ['Module1', 'Wheel']) {
		copyFileSync(join(release, 'Config/Vessels', `${cls}.cfg`), join(root, 'Config/Vessels', `${cls}.cfg`));
		copyFileSync(join(release, 'Meshes', `${cls}.msh`), join(root, 'Meshes', `${cls}.msh`));
	}
	const orbiting = (name, rpos) => `${name}\n  STATUS Orbiting Earth\n  RPOS ${rpos}\n  RVEL 0 0 7656\n  AROT 0 0 0\nEND\n`;
	const scenario = (name, ships) => writeFileSync(join(root, 'Scenarios', `${name}.scn`),
		'BEGIN_ENVIRONMENT\n  Date MJD 51982.0975\nEND_ENVIRONMENT\nBEGIN_FOCUS\n  Ship A\nEND_FOCUS\nBEGIN_SHIPS\n' +
		ships.join('') + 'END_SHIPS\n');
	scenario('Orbit', [orbiting('A:Module1', '6800000 0 0'), orbiting('W:Wheel', '6800000 0 100'),
	                   orbiting('B:Module1', '6800030 -40 0')]);
	scenario('Alone', [orbiting('A:Module1', '6800000 0 0'), orbiting('W:Wheel', '6800000 0 100')]);
	return root;
}

// The vessels about a focus in flight: drawn with their meshes where they are in its frame
// (three.js's z is the frame's -z), the status line saying so; F3 passes W by, and where only W
// is there besides the focus, says why the focus stays.
async function inFlight(context) {
	const root = orbitRoot();
	await withServer(['Orbit', '--root', root], async url => {
		const other = await context.newPage();
		other.on('pageerror', e => { check(false, `no error in the page in flight: ${e.message}`); });
		await other.goto(url);
		await other.waitForFunction(() => window.sendra && window.sendra.drawn.length === 3 && window.sendra.settled(),
		                            null, {timeout: 60000}).catch(() => {});
		const shown = await shoot(other, 'serve-page-in-flight.png');
		const [drawn, placeW, placeB] = await other.evaluate(() =>
			[window.sendra.drawn, window.sendra.placeOf('W'), window.sendra.placeOf('B')]);
		check(drawn.length === 3, `the three vessels in flight are drawn: ${drawn}`);
		const near = (p, q) => !!p && p.every((x, i) => Math.abs(x - q[i]) < 1);  // they drift apart slowly
		check(near(placeW, [0, 0, -100]) && near(placeB, [40, 30, 0]),
		      `W 100 m ahead of A and B 40 m right, 30 m up: ${placeW}, ${placeB}`);
		check(/A in flight about the Earth/.test(shown.status), `the status line says A is in flight: ${shown.status}`);
		// Read back between two of the page's draws the canvas may be blank: wait for one that is not.
		const showing = await other.waitForFunction(canvasDrawn, null, {timeout: 30000, polling: 250}).then(() => true,
			() => false);
		check(showing, 'the view shows them');
		await other.locator('#view').focus();
		await other.keyboard.press('F3');
		await other.waitForFunction(() => window.sendra.focus !== 'A', null, {timeout: 10000}).catch(() => {});
		const focus = await other.evaluate(() => window.sendra.focus);
		check(focus === 'B', `F3 passes W, which cannot take the focus, and goes to B: ${focus}`);
		await other.close();
	});
	await withServer(['Alone', '--root', root], url => focusStays(context, url, 'serve-page-no-other-focus.png',
		/^F3: no other vessel of the scenario can take the focus, so it stays on A$/,
		'F3 where no other vessel can take the focus says why nothing changed'));
}

// Pages of another origin (127.0.0.2, and localhost at another port, which is same-site) that
// frame the page nine times each, as many as would take every stream: no frame gets the page
// or asks for a token or a stream, and the user's own tab still gets its stream and its frames.
async function framed(context, url) {
	const local = url.replace('127.0.0.1', 'localhost');
	const foreign = createServer((req, res) => {
		res.writeHead(200, {'Content-Type': 'text/html'});
		const target = req.url === '/local' ? local : url;
		res.end(`<!doctype html><title>another site</title>${`<iframe src="${target}"></iframe>`.repeat(9)}`);
	});
	await new Promise(resolve => foreign.listen(0, resolve));
	const port = foreign.address().port, framedAnswers = [], framedAsks = [];
	const fromFrame = r => { try { return !!r.frame().parentFrame(); } catch { return false; } };
	const onRequest = r => { if (fromFrame(r) && /\/api\//.test(r.url())) framedAsks.push(r.url()); };
	const onResponse = r => { if (fromFrame(r.request()) && r.request().isNavigationRequest()) framedAnswers.push(r.status()); };
	context.on('request', onRequest);
	context.on('response', onResponse);
	const pages = [];
	for (const at of [`http://127.0.0.2:${port}/`, `http://localhost:${port}/local`]) {
		const p = await context.newPage();
		pages.push(p);
		await p.goto(at);
		await p.waitForFunction(() => document.querySelectorAll('iframe').length === 9, null, {timeout: 10000});
		// Until the frames' requests are over: at once when they are refused; a page that ran
		// would hold its stream open instead.
		await p.waitForLoadState('networkidle', {timeout: 30000}).catch(() => {});
	}
	await shoot(pages[0], 'serve-page-framed.png').catch(() => {});
	let sendraInFrames = 0;
	for (const p of pages)
		for (const f of p.frames().filter(f => f.parentFrame()))
			sendraInFrames += await f.evaluate(() => !!window.sendra).catch(() => false) ? 1 : 0;
	check(framedAnswers.length === 18 && framedAnswers.every(s => s === 403) && sendraInFrames === 0,
	      `18 frames of two other origins are refused the page (${framedAnswers.join(',')}), and none runs it`);
	check(framedAsks.length === 0, `no frame asked for a token, a stream or a document: ${framedAsks.slice(0, 3)}`);
	const own = await context.newPage();
	await own.goto(url);
	await own.waitForFunction(() => window.sendra && window.sendra.frame, null, {timeout: 60000, polling: 250})
		.catch(() => {});
	const shown = await shoot(own, 'serve-page-beside-frames.png');
	check(await own.evaluate(() => !!(window.sendra && window.sendra.frame)) && shown.message === '',
	      `the user's own tab is still served beside them: ${shown.message || shown.status}`);
	context.off('request', onRequest);
	context.off('response', onResponse);
	for (const p of [...pages, own])
		await p.close();
	foreign.closeAllConnections();
	await new Promise(resolve => foreign.close(resolve));
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
	// Every text the status line shows, from the first.
	await page.addInitScript(() => {
		window.statusSeen = [];
		new MutationObserver(() => {
			const s = document.getElementById('status');
			if (s && window.statusSeen[window.statusSeen.length - 1] !== s.textContent)
				window.statusSeen.push(s.textContent);
		}).observe(document, {subtree: true, childList: true, characterData: true});
	});
	await page.goto(url);
	await page.waitForFunction(canvasDrawn, null, {timeout: 60000, polling: 250});
	await page.waitForFunction(() => window.sendra.drawn.length === 2 && window.sendra.settled(), null,
	                           {timeout: 20000}).catch(() => {});
	const drawn = await page.evaluate(() => window.sendra.drawn);
	check(drawn.includes('Sendra-1') && drawn.includes('Sendra-2'), `both rovers are drawn: ${drawn}`);
	await firstLook(page);

	// At rest: three seconds of frames go by; a heartbeat comes now and then, and the page
	// draws nothing.
	const rest = await page.evaluate(() => ({frame: window.sendra.frame.frame, rendered: window.sendra.rendered,
	                                         frames: window.sendra.frames}));
	await page.waitForFunction(f => window.sendra.frame.frame >= f, rest.frame + 180, {timeout: 30000});
	const [restDraws, restFrames] = await page.evaluate(r => [window.sendra.rendered - r.rendered,
	                                                          window.sendra.frames - r.frames], rest);
	check(restDraws === 0, `nothing is drawn at rest: ${restDraws} draws in 180 frames`);
	check(restFrames <= 5, `at rest a heartbeat comes instead of every frame: ${restFrames} messages in 180 frames`);
	await shoot(page, 'serve-page.png');
	await views(page);

	await page.locator('#view').focus();
	await page.keyboard.press('Numpad8');
	await page.keyboard.down('NumpadAdd');
	await page.waitForTimeout(2000);
	await page.keyboard.up('NumpadAdd');
	await chaseThroughATurn(page, url);
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
	await posedAsSent(page);

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

	// The control surfaces on again, for the rudder's keys.
	await page.locator('#afc').click();
	await until(async () => (await state(url)).vessel.afc === 7);
	await laptopAndButtons(page, url);
	await wholeWhenStill(page);
	await smallWindow(page);

	await oneVessel(context);
	await inFlight(context);
	await refused(context, url);
	await framed(context, url);
	await stopServer();
	await page.waitForFunction(() => /cannot be reached/.test(document.getElementById('message').textContent), null,
	                           {timeout: 20000}).catch(() => {});
	const gone = await page.locator('#message').textContent();
	check(/Not connected: the server at .* cannot be reached/.test(gone), `a stopped server is said so: ${gone}`);
	await shoot(page, 'serve-page-unreachable.png');
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

// How busy headless chromium is while it shows the page of `sendra-sim serve` with nothing
// moving: its processes' CPU time from /proc over a span, as a share of one core, and the
// page's own count of draws in that span. For comparing builds in one run on a noisy machine,
// SENDRA_SIM may name several programs, comma-separated, measured in turns, twice each:
//   node tools/serve-cpu-at-rest.mjs SENDRA_SIM[,SENDRA_SIM...] SCENARIO.scn WEB_NPM_DIR CHROMIUM [SECONDS]
import {mkdtempSync, readdirSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {playwright, startServe} from './serve-start.mjs';

const [sims, scenario, npm, chromiumPath, seconds = '10'] = process.argv.slice(2);
if (!chromiumPath)
	throw new Error('usage: serve-cpu-at-rest.mjs SENDRA_SIM SCENARIO.scn WEB_NPM_DIR CHROMIUM [SECONDS]');
const {chromium} = playwright(npm);
const TICKS = 100;  // per second in /proc/PID/stat (Linux's USER_HZ)

// The CPU ticks so far of the browser whose profile is `profile` and of all its descendants.
function ticks(profile) {
	const all = new Map();
	for (const pid of readdirSync('/proc').filter(d => /^\d+$/.test(d))) {
		try {
			const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
			const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
			all.set(pid, {ppid: f[1], ticks: Number(f[11]) + Number(f[12]),
			              browser: readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes(profile)});
		} catch {
			// gone meanwhile
		}
	}
	const ours = new Set([...all.keys()].filter(p => all.get(p).browser));
	for (let grew = true; grew;) {
		grew = false;
		for (const [p, info] of all)
			if (!ours.has(p) && ours.has(info.ppid))
				ours.add(p), grew = true;
	}
	return [...ours].reduce((sum, p) => sum + all.get(p).ticks, 0);
}

async function measure(sim) {
	const work = mkdtempSync(join(tmpdir(), 'sendra-cpu-at-rest-'));
	const started = startServe(sim, [resolve(scenario)], work), server = started.server;
	try {
		const url = await started.url;
		const profile = join(work, 'profile');
		const context = await chromium.launchPersistentContext(profile, {
			executablePath: chromiumPath, headless: true, viewport: {width: 960, height: 600},
			args: ['--no-sandbox', '--disable-gpu', '--use-angle=swiftshader', '--enable-unsafe-swiftshader']});
		const page = context.pages()[0] || await context.newPage();
		await page.goto(url);
		await page.waitForTimeout(8000);  // the meshes and the terrain arrive and are drawn
		const draws = () => page.evaluate(() => window.sendra.rendered);
		const [d0, t0, w0] = [await draws(), ticks(profile), Date.now()];
		await page.waitForTimeout(Number(seconds) * 1000);
		const [d1, t1, w1] = [await draws(), ticks(profile), Date.now()];
		const span = (w1 - w0) / 1000;
		console.log(`${sim}: chromium at rest: ${((t1 - t0) / TICKS / span * 100).toFixed(1)}% of a core, ` +
		            `${d1 - d0} draws in ${span.toFixed(1)} s`);
		await context.close();
	} finally {
		server.kill('SIGINT');
		await new Promise(resolve => server.exitCode !== null ? resolve() : server.on('exit', resolve));
		rmSync(work, {recursive: true, force: true});
	}
}

for (let round = 0; round < 2; ++round)
	for (const sim of sims.split(','))
		await measure(sim);

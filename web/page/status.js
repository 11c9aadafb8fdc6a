// The page's words to its user: the status line at the bottom (kept to a few updates a
// second), the progress while the page loads, a short notice for a key whose effect is not
// otherwise seen, and a message for what stops the page.

const STATUS_EVERY = 250;  // [ms] between updates of the status line
const NOTICE_FOR = 3500;   // [ms] a notice stays

// Where the cockpit camera sits and looks, in the vessel's frame (x right, y up, z ahead).
export function describeStation(c) {
	const [x, y, z] = c.offset, [dx, , dz] = c.dir;
	const along = (v, plus, minus) => v === 0 ? null : `${Math.abs(v).toFixed(2)} m ${v > 0 ? plus : minus}`;
	const where = [along(z, 'ahead', 'back'), along(x, 'right', 'left'), along(y, 'up', 'down')].filter(Boolean);
	const looking = Math.abs(dz) >= Math.abs(dx) ? (dz >= 0 ? 'ahead' : 'back') : (dx > 0 ? 'right' : 'left');
	return `camera station ${where.join(', ') || 'at the centre'}, looking ${looking}`;
}

export class Status {
	constructor(dt, debug) {
		this.line = document.getElementById('status');
		this.messageBox = document.getElementById('message');
		this.noticeBox = document.getElementById('notice');
		this.dt = dt;             // [s] of simulation per frame
		this.debug = debug;       // the draws per second are shown too
		this.loading = 'loading the session…';
		this.said = [this.loading];  // every step of the loading, in order
		this.parts = {frame: null, focus: null, camera: null, cockpit: false, connected: false, draws: 0, sun: null};
		this.timer = null;
		this.shownAt = 0;
		this.noticeTimer = null;
		this.drawCount = 0;
		this.drawStart = performance.now();
		this.scale = 1;
	}

	// What is loading and how far along, or null once the page shows the simulation.
	progress(text) {
		this.loading = text;
		if (text && this.said.length < 200)
			this.said.push(text);
		this.show();
	}

	set(parts) {
		Object.assign(this.parts, parts);
		this.show();
	}

	// A draw of the scene at scale [of the window's width and height].
	drew(scale) {
		++this.drawCount;
		this.scale = scale;
		if (this.debug)
			this.show();
	}

	say(text) {
		this.messageBox.hidden = !text;
		this.messageBox.textContent = text || '';
	}

	notice(text) {
		this.noticeBox.textContent = text;
		this.noticeBox.hidden = false;
		clearTimeout(this.noticeTimer);
		this.noticeTimer = setTimeout(() => { this.noticeBox.hidden = true; }, NOTICE_FOR);
	}

	show() {
		if (this.timer === null)
			this.timer = setTimeout(() => this.write(), Math.max(0, this.shownAt + STATUS_EVERY - performance.now()));
	}

	write() {
		this.timer = null;
		this.shownAt = performance.now();
		const p = this.parts, parts = [];
		if (this.loading)
			parts.push(this.loading);
		if (p.frame) {
			// The simulation's own clock: frames per second of wall time, and how that compares
			// with real time at its frame length.
			const speed = p.frame.rate * this.dt;
			const pace = p.frame.rate === 0 ? '' : Math.abs(speed - 1) < 0.03 ? ' (real time)' : ` (${speed.toFixed(2)} × real time)`;
			parts.push(`t=${p.frame.simt.toFixed(2)} s`, `simulation ${p.frame.rate.toFixed(0)} frames/s${pace}`);
		}
		if (p.focus)
			parts.push(!p.focus.body ? p.focus.name : p.focus.flight ? `${p.focus.name} in flight about the ${p.focus.body}` :
			           `${p.focus.name} on the ${p.focus.body}`);
		if (p.focus && p.sun)
			parts.push(p.sun.text);
		if (!p.connected && !this.loading)
			parts.push('not connected: retrying…');
		parts.push(`${p.cockpit ? 'cockpit' : 'chase'} view (F1 or C to switch)`);
		if (p.cockpit && p.camera)
			parts.push(describeStation(p.camera));
		if (this.debug)
			parts.push(this.drawRate());
		this.line.textContent = parts.join('  ·  ');
	}

	drawRate() {
		const now = performance.now(), rate = this.drawCount * 1000 / Math.max(1, now - this.drawStart);
		if (now - this.drawStart >= 1000) {
			this.drawCount = 0;
			this.drawStart = now;
		}
		return `${rate.toFixed(0)} draws/s` + (this.scale < 1 ? ` at ${Math.round(this.scale * 100)} % of the resolution` : '');
	}
}

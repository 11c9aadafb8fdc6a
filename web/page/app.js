// The page of sendra-sim serve: loads the session and the vessels' meshes, follows the frame
// stream, draws the HUD and the status line, and sends the keys and the focus changes.
import {View} from './scene.js';
import {Input} from './input.js';

const hudBox = document.getElementById('hud');
const statusLine = document.getElementById('status');
const message = document.getElementById('message');

// What the browser test and a curious user can read: the last frame, how often the scene was
// drawn, the vessels it showed then and the focus.
const sendra = window.sendra = {frame: null, rendered: 0, drawn: [], focus: null, view: 'chase'};
const STATUS_EVERY = 250;  // [ms] between updates of the status line

function say(text) {
	message.hidden = !text;
	message.textContent = text || '';
}

async function fetchJson(path) {
	const r = await fetch(path);
	if (!r.ok)
		throw new Error(`${path}: ${r.status} ${await r.text()}`);
	return r.json();
}

function keyName(code) {
	const special = {NumpadAdd: 'keypad +', NumpadSubtract: 'keypad −', ArrowLeft: '←', ArrowRight: '→'};
	return special[code] || code.replace(/^Numpad/, 'keypad ').replace(/^Digit|^Key/, '');
}

function legend(keys) {
	const rows = new Map();
	for (const k of keys) {
		const name = keyName(k.code);
		rows.set(k.label, (rows.has(k.label) ? rows.get(k.label) + ', ' : '') + name);
	}
	rows.set('next vessel in focus', 'F3');
	rows.set('cockpit / chase view', 'F1, C');
	rows.set('orbit the chase camera', 'mouse drag');
	rows.set('zoom the chase camera', 'mouse wheel');
	rows.set('look around (cockpit)', 'mouse drag');
	const table = document.getElementById('keys');
	for (const [label, names] of rows) {
		const tr = table.insertRow();
		tr.insertCell().textContent = names;
		tr.insertCell().textContent = label;
	}
}

// The module's HUD texts at their pixel positions on the host's HUD, scaled to the window.
function drawHud(texts, hud) {
	const sx = window.innerWidth / hud.width, sy = window.innerHeight / hud.height;
	while (hudBox.children.length < texts.length)
		hudBox.appendChild(document.createElement('span'));
	while (hudBox.children.length > texts.length)
		hudBox.lastChild.remove();
	texts.forEach(([x, y, colour, text], i) => {
		const span = hudBox.children[i];
		span.style.left = `${x * sx}px`;
		span.style.top = `${y * sy}px`;
		span.style.fontSize = `${Math.max(10, 15 * sy)}px`;
		// 0xBBGGRR, as the host's colours are
		span.style.color = `rgb(${colour & 255},${(colour >> 8) & 255},${(colour >> 16) & 255})`;
		if (span.textContent !== text)
			span.textContent = text;
	});
}

// Where the cockpit camera sits and looks, in the vessel's frame (x right, y up, z ahead).
function describeStation(c) {
	const [x, y, z] = c.offset, [dx, , dz] = c.dir;
	const along = (v, plus, minus) => v === 0 ? null : `${Math.abs(v).toFixed(2)} m ${v > 0 ? plus : minus}`;
	const where = [along(z, 'ahead', 'back'), along(x, 'right', 'left'), along(y, 'up', 'down')].filter(Boolean);
	const looking = Math.abs(dz) >= Math.abs(dx) ? (dz >= 0 ? 'ahead' : 'back') : (dx > 0 ? 'right' : 'left');
	return `camera station ${where.join(', ') || 'at the centre'}, looking ${looking}`;
}

async function main() {
	const session = await fetchJson('/api/session');
	if (!session.vessel) {
		say('The scenario has no vessel with the focus: there is nothing to show.');
		return;
	}
	const view = new View(document.getElementById('view'));
	view.setMeshes(await fetchJson('/api/mesh'));
	sendra.settled = () => view.settled();
	legend(session.keys);

	let frame = null, focus = null, camera = null, hudTexts = [], connected = false;
	let draws = 0, drawRate = 0, drawStart = performance.now(), statusAt = 0, statusTimer = null;
	const status = () => {
		statusTimer = null;
		statusAt = performance.now();
		if (statusAt - drawStart >= 1000) {
			drawRate = draws * 1000 / (statusAt - drawStart);
			draws = 0;
			drawStart = statusAt;
		}
		const parts = [];
		if (frame)
			parts.push(`t=${frame.simt.toFixed(2)} s`, `simulation ${frame.rate.toFixed(0)} frames/s`,
			           `${drawRate.toFixed(0)} draws/s`);
		if (focus)
			parts.push(focus.body ? `${focus.name} on the ${focus.body}` : focus.name);
		if (connected) {
			parts.push(`${view.cockpit ? 'cockpit' : 'chase'} view (F1 or C to switch)`);
			if (camera)
				parts.push(describeStation(camera));
		} else {
			parts.push('not connected: retrying…');
		}
		statusLine.textContent = parts.join('  ·  ');
	};
	// The status line at most every STATUS_EVERY: the frames come far more often.
	const showStatus = () => {
		if (statusTimer === null)
			statusTimer = setTimeout(status, Math.max(0, statusAt + STATUS_EVERY - performance.now()));
	};
	view.onRender = () => {
		sendra.rendered = view.rendered;
		sendra.drawn = view.drawnVessels();
		++draws;
		showStatus();
	};

	const toggleView = () => {
		view.setCockpit(!view.cockpit);
		sendra.view = view.cockpit ? 'cockpit' : 'chase';
		showStatus();
	};
	const pageKey = code => code === 'F3' ? input.focusNext() : toggleView();
	const input = new Input(session.keys, ['F1', 'KeyC', 'F3'], pageKey);
	document.getElementById('view').focus();

	// The control-surface mode, and Orbiter's toggle between all surfaces and none.
	const afcButton = document.getElementById('afc');
	afcButton.addEventListener('click', () => {
		if (focus)
			input.setAfc(focus.afc ? 0 : 7);
		document.getElementById('view').focus();
	});
	// The focus, and the page's way to step it as F3 does.
	const focusButton = document.getElementById('focus');
	focusButton.addEventListener('click', () => {
		input.focusNext();
		document.getElementById('view').focus();
	});
	const showFocus = f => {
		focus = f;
		sendra.focus = f ? f.name : null;
		afcButton.hidden = focusButton.hidden = !f;
		if (!f) {
			drawHud(hudTexts = [], session.hud);
			return;
		}
		const others = session.vessels.length - 1;
		focusButton.textContent = `focus: ${f.name}` + (others > 0 ? ' (click or F3 for the next vessel)' : '');
		afcButton.textContent = `control surfaces ${f.afc}: rudder ${f.afc & 2 ? 'on' : 'off'} (click for ${f.afc ? 0 : 7})`;
	};

	const stream = new EventSource('/api/stream');
	stream.addEventListener('hello', e => {
		connected = true;
		input.connected(JSON.parse(e.data).client);
		showStatus();
	});
	stream.addEventListener('frame', e => {
		frame = JSON.parse(e.data);
		sendra.frame = frame;
		view.applyFrame(frame);
		if ('focus' in frame)
			showFocus(frame.focus);
		if (frame.hud)
			drawHud(hudTexts = frame.hud, session.hud);
		if (frame.camera)
			camera = frame.camera;
		showStatus();
	});
	stream.onerror = () => {
		connected = false;
		input.disconnected();
		showStatus();
	};
	window.addEventListener('resize', () => drawHud(hudTexts, session.hud));
}

main().catch(err => say(`The page could not start: ${err.message}`));

// The page of sendra-sim serve: loads the session and the rover's meshes, follows the frame
// stream, draws the HUD and the status line, and sends the keys.
import {View} from './scene.js';
import {Input} from './input.js';

const hudBox = document.getElementById('hud');
const statusLine = document.getElementById('status');
const message = document.getElementById('message');

// What the browser test and a curious user can read: the last frame and how often it drew.
const sendra = window.sendra = {frame: null, rendered: 0, roverReady: false, view: 'chase'};

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
	rows.set('cockpit / chase view', 'F1, C');
	rows.set('look around (cockpit)', 'drag');
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

async function main() {
	const session = await fetchJson('/api/session');
	if (!session.vessel) {
		say('The scenario has no vessel with the focus: there is nothing to show.');
		return;
	}
	const view = new View(document.getElementById('view'), session);
	view.setMeshes(await fetchJson('/api/mesh'));
	sendra.roverReady = view.roverReady;
	legend(session.keys);

	const toggleView = () => {
		view.setCockpit(!view.cockpit);
		sendra.view = view.cockpit ? 'cockpit' : 'chase';
	};
	const input = new Input(session.keys, ['F1', 'KeyC'], toggleView);
	document.getElementById('view').focus();

	// The control-surface mode, and Orbiter's toggle between all surfaces and none.
	const afcButton = document.getElementById('afc');
	let afc = null;
	afcButton.addEventListener('click', () => {
		if (afc !== null)
			input.setAfc(afc ? 0 : 7);
		document.getElementById('view').focus();
	});
	const showAfc = mode => {
		if (mode === afc)
			return;
		afc = mode;
		afcButton.hidden = false;
		afcButton.textContent = `control surfaces ${mode}: rudder ${mode & 2 ? 'on' : 'off'} (click for ${mode ? 0 : 7})`;
	};

	let frame = null, frames = 0, fps = 0, fpsStart = performance.now(), connected = false;
	const stream = new EventSource('/api/stream');
	stream.addEventListener('hello', e => {
		connected = true;
		input.connected(JSON.parse(e.data).client);
	});
	stream.addEventListener('frame', e => {
		frame = JSON.parse(e.data);
		sendra.frame = frame;
		view.applyFrame(frame);
		if (frame.vessel)
			showAfc(frame.vessel.afc);
		drawHud(frame.hud || [], session.hud);
	});
	stream.onerror = () => {
		connected = false;
		input.disconnected();
	};

	const loop = now => {
		requestAnimationFrame(loop);
		view.render(frame ? frame.simt : 0);
		++frames;
		++sendra.rendered;
		if (now - fpsStart >= 1000) {
			fps = frames * 1000 / (now - fpsStart);
			frames = 0;
			fpsStart = now;
		}
		const parts = [];
		if (frame) {
			parts.push(`t=${frame.simt.toFixed(2)} s`, `${fps.toFixed(0)} fps`,
			           `simulation ${frame.rate.toFixed(0)} frames/s`);
			if (frame.vessel)
				parts.push(`${frame.vessel.name} on the ${frame.vessel.body}`);
		}
		parts.push(connected ? `${view.cockpit ? 'cockpit' : 'chase'} view (F1 or C to switch)`
		                     : 'not connected: retrying…');
		statusLine.textContent = parts.join('  ·  ');
	};
	requestAnimationFrame(loop);
}

main().catch(err => say(`The page could not start: ${err.message}`));

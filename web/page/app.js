// The page of sendra-sim serve: loads the session and the vessels' meshes, follows the frame
// stream, draws the HUD and the status line, and sends the keys and the focus changes.
import {View} from './scene.js';
import {Input} from './input.js';
import {fetchJson, Stream} from './stream.js';
import {Status, describeStation} from './status.js';
import {drivePanel, showSteering} from './panel.js';

const hudBox = document.getElementById('hud');
const FOLDED_KEY = 'sendra-sim.keys-folded';  // the user folded the key list

// What the browser test and a curious user can read: the last frame, how often the scene was
// drawn, the vessels and markers it showed then and at what share of the resolution, the focus,
// the view and the loading's progress.
const sendra = window.sendra = {frame: null, frames: 0, rendered: 0, drawn: [], focus: null, view: 'chase',
                                loading: null, connected: false, markers: 0, scale: 1, sun: null};

function keyName(code) {
	const special = {NumpadAdd: 'keypad +', NumpadSubtract: 'keypad −', ArrowLeft: '←', ArrowRight: '→', ArrowUp: '↑',
	                 ArrowDown: '↓', Equal: '=', Minus: '-'};
	return special[code] || code.replace(/^Numpad/, 'keypad ').replace(/^Digit|^Key/, '');
}

// The keys, open on the first visit; folded from then on only when the user folded them.
function legend(keys) {
	const rows = new Map();
	for (const k of keys) {
		const name = keyName(k.code);
		rows.set(k.label, (rows.has(k.label) ? rows.get(k.label) + ', ' : '') + name);
	}
	rows.set('the same keys, held while pressed', 'the buttons');
	rows.set('next vessel in focus', 'F3');
	rows.set('cockpit / chase view', 'F1, C');
	rows.set('orbit the chase camera; look around in the cockpit', 'mouse drag');
	rows.set('zoom the chase camera', 'mouse wheel');
	const table = document.getElementById('keys');
	for (const [label, names] of rows) {
		const tr = table.insertRow();
		tr.insertCell().textContent = names;
		tr.insertCell().textContent = label;
	}
	const box = document.getElementById('legend'), summary = box.querySelector('summary');
	const toggled = () => {
		summary.textContent = `Keys (click to ${box.open ? 'fold' : 'show'})`;
		localStorage.setItem(FOLDED_KEY, box.open ? 'no' : 'yes');
	};
	box.open = localStorage.getItem(FOLDED_KEY) !== 'yes';
	toggled();
	box.addEventListener('toggle', toggled);
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
		// Readable in a small window too, where the HUD's own scale would shrink it below 13 px.
		span.style.fontSize = `${Math.max(13, 15 * sy)}px`;
		// 0xBBGGRR, as the host's colours are
		span.style.color = `rgb(${colour & 255},${(colour >> 8) & 255},${(colour >> 16) & 255})`;
		if (span.textContent !== text)
			span.textContent = text;
	});
}

// A button's text: what it shows, and what more it says where there is room.
function label(button, shows, more) {
	button.textContent = shows;
	const span = button.appendChild(document.createElement('span'));
	span.className = 'more';
	span.textContent = more;
}

// How many vessels but the named one can take the focus (those of a class with EnableFocus =
// FALSE cannot).
function focusable(session, name) {
	return session.vessels.filter(v => v.name !== name && v.focusable !== false).length;
}

// The buttons at the top left: the focus (F3's step) and the control-surface toggle.
function controls(session, input, stepFocus) {
	const afcButton = document.getElementById('afc'), focusButton = document.getElementById('focus');
	const back = () => document.getElementById('view').focus();
	let focus = null;
	afcButton.addEventListener('click', () => {
		if (focus)
			input.setAfc(focus.afc ? 0 : 7);
		back();
	});
	focusButton.addEventListener('click', () => {
		stepFocus();
		back();
	});
	return f => {
		focus = f;
		afcButton.hidden = focusButton.hidden = !f;
		if (!f)
			return;
		const others = focusable(session, f.name);
		label(focusButton, `focus: ${f.name}`, others > 0 ? ' (click or F3 for the next vessel)' : '');
		label(afcButton, `control surfaces ${f.afc}: rudder ${f.afc & 2 ? 'on' : 'off'}`, ` (click for ${f.afc ? 0 : 7})`);
	};
}

// V steps the cockpit camera's station: said at once, and where it is once the module has
// set it (the rover's first press sets the station it starts at, so nothing else would show).
// Keys pressed by the keyboard or the on-screen controls come through onPress.
function stationNotices(status, view) {
	let pressed = false;
	const where = () => view.cockpit ? '' : ' (seen in the cockpit view: F1 or C)';
	const onPress = code => {
		if (code !== 'KeyV')
			return;
		pressed = true;
		status.notice(`V: the next cockpit camera station${where()}`);
	};
	const moved = (camera, focusChanged) => {
		if (pressed && !focusChanged)
			status.notice(`V: ${describeStation(camera)}${where()}`);
		pressed = false;
	};
	return {onPress, moved};
}

async function load(status) {
	const session = await fetchJson('/api/session');
	if (!session.vessel)
		return {session};
	const meshes = await fetchJson('/api/mesh', (got, total) => {
		const kb = n => `${Math.round(n / 1024).toLocaleString('en')} KB`;
		status.progress(`loading the vessels' meshes: ${kb(got)}${total ? ` of ${kb(total)}` : ''}`);
	});
	return {session, meshes};
}

async function main() {
	const debug = new URLSearchParams(location.search).has('debug');
	const status = new Status(1 / 60, debug);
	sendra.progress = status.said;
	const {session, meshes} = await load(status).catch(err => {
		status.progress(null);
		status.say(`The page could not start: ${err.message}`);
		return {};
	});
	if (!session)
		return;
	if (!session.vessel) {
		status.progress(null);
		status.say('The scenario has no vessel with the focus: there is nothing to show.');
		return;
	}
	status.dt = session.dt;
	const view = new View(document.getElementById('view'));
	view.setMeshes(meshes);
	sendra.settled = () => view.settled();
	sendra.chaseAngle = () => view.chaseAngle();
	sendra.posedMeshes = name => view.posedMeshes(name);
	sendra.placeOf = name => view.vessels.has(name) ? view.vessels.get(name).position.toArray() : null;
	sendra.resolution = view.resolution;
	legend(session.keys);
	follow(session, view, status);
}

function follow(session, view, status) {
	let hudTexts = [];
	const toggleView = () => {
		view.setCockpit(!view.cockpit);
		sendra.view = view.cockpit ? 'cockpit' : 'chase';
		status.set({cockpit: view.cockpit});
	};
	// F3, as Orbiter's: the next vessel that can take the focus takes it; when none can, the
	// page says why.
	const stepFocus = () => {
		if (focusable(session, sendra.focus) > 0)
			input.focusNext();
		else if (session.vessels.length > 1)
			status.notice(`F3: no other vessel of the scenario can take the focus, so it stays on ${sendra.focus}`);
		else
			status.notice(`F3: ${session.vessels.length ? session.vessels[0].name : 'the focus'} is the scenario's only ` +
			              'vessel, so the focus stays where it is');
	};
	const input = new Input(session.keys, ['F1', 'KeyC', 'F3'], code => code === 'F3' ? stepFocus() : toggleView());
	document.getElementById('view').focus();
	const showFocus = controls(session, input, stepFocus);
	const station = stationNotices(status, view);
	input.onPress = station.onPress;
	drivePanel(session.keys, keyName, input);
	view.onRender = () => {
		sendra.rendered = view.rendered;
		sendra.drawn = view.drawnVessels();
		sendra.markers = view.markers.count;
		sendra.scale = view.resolution.scale;
		// Of the window's pixels, the share the last draw filled (1 for a still scene's whole draw).
		sendra.drawnScale = view.renderer.domElement.width / (window.innerWidth * Math.min(window.devicePixelRatio, 2));
		status.drew(sendra.scale);
	};
	const loading = () => {
		sendra.loading = view.loading();
		status.progress(sendra.loading);
	};
	const frame = f => {
		sendra.frame = f;
		++sendra.frames;
		view.applyFrame(f);
		if ('focus' in f) {
			sendra.focus = f.focus ? f.focus.name : null;
			showFocus(f.focus);
			if (!f.focus)
				drawHud(hudTexts = [], session.hud);
		}
		if (f.hud)
			drawHud(hudTexts = f.hud, session.hud);
		if (f.camera)
			station.moved(f.camera, 'focus' in f);
		if ('sun' in f) {
			view.setSun(f.sun);
			sendra.sun = f.sun;
			status.set({sun: f.sun});
		}
		if (sendra.focus)
			showSteering(view.focus ? view.focus.rudder || 0 : 0, view.frontWheels(sendra.focus));
		status.set({frame: f, focus: view.focus, camera: view.cameraSpec});
		loading();
	};
	status.progress('connecting to the simulation…');
	new Stream({
		hello: hello => input.connected(hello.client),
		reset: f => frame(f),
		piece: p => {
			view.applyPiece(p);
			loading();
		},
		frame,
	}, (connected, error) => {
		sendra.connected = connected;
		if (!connected)
			input.disconnected();
		if (error && !sendra.frame)
			status.progress(null);
		status.say(error ? `${error.refused ? 'Refused' : 'Not connected'}: ${error.message}` : '');
		if (connected && !sendra.frame)
			status.progress('waiting for the first frame…');
		status.set({connected});
	});
	window.addEventListener('resize', () => drawHud(hudTexts, session.hud));
}

main().catch(err => {
	const box = document.getElementById('message');
	box.hidden = false;
	box.textContent = `The page could not start: ${err.message}`;
});

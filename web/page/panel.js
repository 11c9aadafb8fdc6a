// The page's on-screen controls, for a keyboard without a keypad, a mouse or a touch screen: a
// button for each of the rover's controls, pressed and held as its key would be, and the
// steering indicator (the rudder's level and the front wheels' deflection).

// Each button stands for a binding of the server's key table, by its code; its title says what
// the table says of it and which keys do the same.
const ROWS = [
	['gear', [['Numpad2', 'R'], ['Numpad5', 'N'], ['Numpad8', 'F']]],
	['speed', [['NumpadSubtract', '−'], ['NumpadAdd', '+']]],
	['steer', [['Numpad1', '◀'], ['Numpad3', '▶']]],
	['swivel', [['Digit5', '⟲'], ['Digit4', '0'], ['Digit6', '⟳']]],
	['', [['Digit1', 'left door'], ['Digit2', 'right door'], ['KeyJ', 'sunscreen'], ['Digit7', 'lights'],
	      ['KeyV', 'camera']]],
];

// keys: the server's table; keyNames(code) the name the key list gives a key.
export function drivePanel(keys, keyNames, input) {
	const box = document.getElementById('drive');
	const byCode = new Map(keys.map(k => [k.code, k]));
	for (const [what, buttons] of ROWS) {
		const row = document.createElement('div');
		row.className = 'row';
		if (what) {
			const name = document.createElement('span');
			name.className = 'what';
			name.textContent = what;
			row.appendChild(name);
		}
		for (const [code, text] of buttons) {
			const k = byCode.get(code);
			if (!k)
				continue;
			const alike = keys.filter(o => o.key === k.key).map(o => keyNames(o.code));
			row.appendChild(holdButton(code, text, `${k.label}: ${alike.join(', ')}`, input));
		}
		box.appendChild(row);
		if (what === 'steer')
			row.appendChild(document.getElementById('steering'));
	}
	box.hidden = false;
}

// A button that holds its key down while the pointer (a mouse button or a finger) holds it,
// and taps it when the keyboard presses the button.
function holdButton(code, text, title, input) {
	const b = document.createElement('button');
	b.type = 'button';
	b.textContent = text;
	b.title = title;
	b.setAttribute('aria-label', title);
	b.dataset.code = code;
	const up = () => {
		b.classList.remove('held');
		input.release(code);
	};
	b.addEventListener('pointerdown', e => {
		// No focus for the button: the keys keep going to the view.
		e.preventDefault();
		b.setPointerCapture(e.pointerId);
		b.classList.add('held');
		input.press(code);
	});
	b.addEventListener('pointerup', up);
	b.addEventListener('pointercancel', up);
	b.addEventListener('lostpointercapture', up);
	b.addEventListener('contextmenu', e => e.preventDefault());  // a long touch is a held key
	b.addEventListener('click', e => {
		if (e.detail === 0) {  // Enter or Space on the button
			input.press(code);
			input.release(code);
		}
	});
	return b;
}

// The steering indicator: the rudder's level (-1 full left to 1 full right) and the front
// wheels' deflection [rad, to the right], null for a vessel without front wheels.
export function showSteering(rudder, wheels) {
	const box = document.getElementById('steering');
	box.querySelector('.mark').style.left = `${50 + 50 * Math.max(-1, Math.min(1, rudder))}%`;
	const side = (v, left, right) => v < 0 ? left : v > 0 ? right : '';
	const level = Math.abs(rudder) < 0.005 ? 'rudder centred' : `rudder ${Math.abs(rudder).toFixed(2)} ${side(rudder, 'left', 'right')}`;
	let text = level;
	if (wheels !== null) {
		const deg = Math.round(wheels * 180 / Math.PI);
		text += deg === 0 ? ' · front wheels straight' : ` · front wheels ${Math.abs(deg)}° ${side(deg, 'left', 'right')}`;
	}
	box.querySelector('.value').textContent = text;
	window.sendra.steering = {rudder, wheels};
}

// The page's keyboard and its on-screen controls: browser keys bound by the server's key table,
// and the controls that stand for them, become key-down and key-up events for the rover, sent
// in order, one request at a time. Repeats are ignored, and every held key is let go when the
// page loses the focus.

const MAX_EVENTS_PER_REQUEST = 64;  // the server refuses more

export class Input {
	// keys: the server's table ({code, key, label}); pageKeys: codes the page keeps
	// for itself (view switching), handled by onPageKey.
	constructor(keys, pageKeys, onPageKey) {
		this.bound = new Map(keys.map(k => [k.code, k]));
		this.pageKeys = new Set(pageKeys);
		this.onPageKey = onPageKey;
		this.held = new Set();   // codes held as far as the server knows
		this.queue = [];         // events not sent yet
		this.sending = false;
		this.client = null;      // the token of this page's event stream
		this.onPress = null;     // onPress(code) when a bound key goes down, by keyboard or control
		window.addEventListener('keydown', e => this.keyDown(e));
		window.addEventListener('keyup', e => this.keyUp(e));
		window.addEventListener('blur', () => this.releaseAll());
		document.addEventListener('visibilitychange', () => { if (document.hidden) this.releaseAll(); });
	}

	// A new event stream: the server let go of whatever the old one held.
	connected(client) {
		this.client = client;
		this.held.clear();
		this.queue = [];
		this.flush();
	}
	disconnected() {
		this.client = null;
		this.held.clear();
		this.queue = [];
	}

	keyDown(e) {
		if (e.ctrlKey || e.altKey || e.metaKey)
			return;  // the browser's own shortcuts
		if (this.pageKeys.has(e.code)) {
			e.preventDefault();
			if (!e.repeat)
				this.onPageKey(e.code);
			return;
		}
		if (!this.bound.has(e.code))
			return;
		e.preventDefault();
		if (!e.repeat)
			this.press(e.code);
	}

	keyUp(e) {
		if (!this.bound.has(e.code))
			return;
		e.preventDefault();
		this.release(e.code);
	}

	// A bound key goes down, from the keyboard or an on-screen control; once while it is held.
	press(code) {
		if (!this.bound.has(code) || this.held.has(code) || !this.client)
			return;
		this.held.add(code);
		this.send({code, down: true});
		if (this.onPress)
			this.onPress(code);
	}

	release(code) {
		if (this.held.delete(code))
			this.send({code, down: false});
	}

	// Sets the focus vessel's control-surface mode, as Orbiter's toggle does.
	setAfc(mode) {
		if (this.client)
			this.send({afc: mode});
	}

	// Steps the focus to the next vessel, as F3 does.
	focusNext() {
		if (this.client)
			this.send({focus: 'next'});
	}

	releaseAll() {
		if (this.held.size === 0 || !this.client)
			return;
		this.held.clear();
		this.send({release: 'all'});
	}

	send(event) {
		this.queue.push(event);
		this.flush();
	}

	// One request in flight at a time, so that the server sees the events in the order they
	// happened; what piles up meanwhile goes in the next request.
	async flush() {
		if (this.sending || !this.client || this.queue.length === 0)
			return;
		this.sending = true;
		const events = this.queue.splice(0, MAX_EVENTS_PER_REQUEST);
		const client = this.client;
		try {
			const res = await fetch('/api/input', {
				method: 'POST',
				headers: {'Content-Type': 'application/json'},
				body: JSON.stringify({client, events}),
			});
			if (res.status === 409 && this.client === client)
				this.disconnected();  // the stream is gone; its reconnection starts afresh
			else if (!res.ok)
				console.warn('input refused:', res.status, await res.text());
		} catch (err) {
			console.warn('input not sent:', err);
		} finally {
			this.sending = false;
			this.flush();
		}
	}
}

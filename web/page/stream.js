// The page's line to the server: the documents it loads with their progress, and the event
// stream, opened with a token that only a request of the page itself obtains, and opened
// again with a new one when it breaks.

const RETRY_AFTER = 1500;  // [ms] before a broken stream is opened again

// A refusal or an unreachable server, with what the page should say about it.
export class ServerError extends Error {
	constructor(message, refused) {
		super(message);
		this.refused = refused;  // the server answered, and said no
	}
}

async function request(path) {
	let r;
	try {
		r = await fetch(path, {cache: 'no-store'});
	} catch (err) {
		throw new ServerError(`the server at ${location.host} cannot be reached: is sendra-sim serve still running?`, false);
	}
	if (!r.ok) {
		const why = (await r.text()).trim();
		throw new ServerError(`the server refused ${path} (${r.status}): ${why}`, r.status === 403);
	}
	return r;
}

// A JSON document; onProgress(received, total) as its bytes arrive (total 0 when unknown).
export async function fetchJson(path, onProgress) {
	const r = await request(path);
	if (!onProgress || !r.body)
		return r.json();
	const total = Number(r.headers.get('Content-Length')) || 0;
	const reader = r.body.getReader(), parts = [];
	let received = 0;
	for (;;) {
		const {done, value} = await reader.read();
		if (done)
			break;
		parts.push(value);
		received += value.length;
		onProgress(received, total);
	}
	const all = new Uint8Array(received);
	let at = 0;
	for (const p of parts) {
		all.set(p, at);
		at += p.length;
	}
	return JSON.parse(new TextDecoder().decode(all));
}

// The event stream: handlers by event name, and onState(connected, error) when it opens,
// breaks or cannot be opened.
export class Stream {
	constructor(handlers, onState) {
		this.handlers = handlers;
		this.onState = onState;
		this.source = null;
		this.open();
	}

	async open() {
		let token;
		try {
			token = (await (await request('/api/token')).json()).token;
		} catch (err) {
			this.onState(false, err);
			return this.retry();
		}
		const source = this.source = new EventSource(`/api/stream?token=${encodeURIComponent(token)}`);
		for (const [name, handle] of Object.entries(this.handlers))
			source.addEventListener(name, e => handle(JSON.parse(e.data)));
		source.addEventListener('hello', () => this.onState(true, null));
		source.onerror = () => {
			// Its token is used up: the browser's own reconnection would be refused.
			source.close();
			this.onState(false, null);
			this.retry();
		};
	}

	retry() {
		setTimeout(() => this.open(), RETRY_AFTER);
	}
}

// Starts `sendra-sim serve` for the tools that measure its page: the server and the address it
// printed once it listens.
import {spawn} from 'node:child_process';

export function startServe(sim, args, cwd) {
	const server = spawn(sim, ['serve', ...args, '--port', '0'], {cwd, stdio: ['ignore', 'pipe', 'inherit']});
	const url = new Promise((resolve, reject) => {
		let out = '';
		server.stdout.on('data', d => {
			const m = (out += d).match(/at (http:\/\/127\.0\.0\.1:\d+\/)/);
			if (m)
				resolve(m[1]);
		});
		server.on('exit', code => reject(new Error(`sendra-sim serve exited with ${code}: ${out}`)));
	});
	return {server, url};
}

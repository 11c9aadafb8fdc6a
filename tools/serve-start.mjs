// Starts `sendra-sim serve` for the tools that measure its page: the server and the address it
// printed once it listens; and the page's playwright, from the build's npm folder. Paths may be
// given relative to the folder the tool was started in.
import {spawn} from 'node:child_process';
import {createRequire} from 'node:module';
import {join, resolve} from 'node:path';

export function startServe(sim, args, cwd) {
	const server = spawn(resolve(sim), ['serve', ...args, '--port', '0'], {cwd, stdio: ['ignore', 'pipe', 'inherit']});
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

export function playwright(npm) {
	return createRequire(join(resolve(npm), 'package.json'))('playwright-core');
}

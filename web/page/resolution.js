// How much of the window's resolution the scene is drawn at. A large scene drawn by a renderer
// in software (a headless browser, a machine without a GPU) can take far longer than a tenth
// of a second at full size, and its pixels are the part of that cost the page can shrink: while
// draws take longer than the page can afford, the scene is drawn at fewer pixels, down to a
// quarter of them, and at more again once they are quick. A draw's cost is read from the GPU
// itself: a fence put after the draw, looked at until the GPU has passed it.

// Of the width and height: each step about 0.64 of the pixels before it.
export const SCALES = [1, 0.8, 0.64, 0.5];
const DRAW_BUDGET = 80;  // [ms] a draw may take: 12 a second, some room above the 10 aimed at
const QUICK = 30;        // [ms] draws this quick can afford a step up, which costs about 1.6 times more
const DRAWS = 6;         // timed draws between decisions
const POLL = 4;          // [ms] between looks at a fence

// The step of SCALES that follows `step` after draws that took `cost` ms each on average.
export function nextStep(step, cost) {
	if (cost > DRAW_BUDGET)
		return Math.min(step + 1, SCALES.length - 1);
	if (cost < QUICK)
		return Math.max(step - 1, 0);
	return step;
}

export class Resolution {
	// onChange() when the scale changes.
	constructor(gl, onChange) {
		this.gl = gl;
		this.onChange = onChange;
		this.step = 0;
		this.fence = null;  // of the draw being timed
		this.costs = [];    // [ms] of the draws timed since the last decision
	}

	// After a draw: times it, unless the last one is still being timed.
	measure() {
		const gl = this.gl;
		if (this.fence || document.hidden)
			return;
		const started = performance.now();
		this.fence = gl.fenceSync(gl.SYNC_GPU_COMMANDS_COMPLETE, 0);
		if (!this.fence)
			return;  // the context is lost
		gl.flush();
		const look = () => {
			if (gl.isContextLost()) {
				this.fence = null;
				return;
			}
			if (gl.getSyncParameter(this.fence, gl.SYNC_STATUS) !== gl.SIGNALED) {
				setTimeout(look, POLL);
				return;
			}
			gl.deleteSync(this.fence);
			this.fence = null;
			// A hidden page's timers are slowed down: its draws are not slow.
			if (!document.hidden)
				this.took(performance.now() - started);
		};
		setTimeout(look, POLL);
	}

	took(ms) {
		this.costs.push(ms);
		if (this.costs.length < DRAWS)
			return;
		const cost = this.costs.reduce((sum, c) => sum + c, 0) / this.costs.length;
		this.costs = [];
		const step = nextStep(this.step, cost);
		if (step !== this.step) {
			this.step = step;
			this.onChange();
		}
	}

	// Of the window's width and height.
	get scale() {
		return SCALES[this.step];
	}
}

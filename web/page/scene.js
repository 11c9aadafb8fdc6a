// The page's 3D scene: the terrain patch around the focus vessel, every vessel the server
// draws, posed from its per-group transforms, with its spot lights and beacons, and the chase
// and cockpit cameras of the focus. Around a focus in flight there is no terrain: the vessels
// come in the focus's frame (y up from its body, z along its velocity), the body below drawn
// as a plain sphere. It draws only when asked: when a frame changed what is
// seen, the camera moved or the window changed size.
import * as THREE from 'three';
import {OrbitControls} from 'three/addons/controls/OrbitControls.js';
import {Resolution} from './resolution.js';

// Orbiter's frames are left-handed (x right or east, y up, z forward or north), three.js's
// right-handed: mirroring z takes one to the other. A vessel keeps Orbiter's coordinates
// below a mirrored frame, so its mesh, poses, lights and camera stations are used as the
// server sends them; three.js turns the faces' winding round for a mirrored object, which
// makes Orbiter's clockwise front faces its front faces.
const MIRROR = new THREE.Matrix4().makeScale(1, 1, -1);

const GROUP_HIDDEN = 0x2;   // Orbiter mesh group flags
const GROUP_UNLIT = 0x4;
const MESHVIS_EXTERNAL = 0x1, MESHVIS_COCKPIT = 0x2;
// Lights that shine in the scene at once, the nearest the camera's: each one more makes every
// lit material's shader larger, which a software renderer pays for with every pixel.
const MAX_LIGHTS = 12;
const TERRAIN_GRID = 10;    // [m] between the lines drawn on the ground
const BEACON_NEAR = 50;     // [m] beyond which a beacon's size follows its falloff
const MARKER_SIZE = 4;      // [m] across a marker's dot
const BELOW_AT = 4000;      // [m] from the focus in flight to the centre of the body below as drawn
// [m] The camera's near plane: in the cockpit close to the eye, behind the vessel far enough
// that the depth buffer tells the body's faces apart (a renderer in software may keep 16 bits).
const NEAR_COCKPIT = 0.05, NEAR_CHASE = 0.5;
const STILL_AFTER = 400;   // [ms] without a draw after which a scene drawn at less is drawn whole

// Whether a beacon shines at simt [s]: while active, and for a strobe for duration of each
// period from tofs on.
function beaconLit(b, simt) {
	return !!(b && b.active && b.pos && b.col && !(b.period > 0 && (simt + b.tofs) % b.period > b.duration));
}

// The meshes of the mesh document by name, made into three.js geometries and materials once
// and shared by every vessel that shows them. A mesh's groups are merged by material, each
// vertex bound to its group's bone: a vessel poses a group by moving that bone, and draws a
// mesh with one call per material rather than one per group (a software renderer pays for
// every call).
class MeshLibrary {
	constructor() {
		this.meshes = new Map();  // name -> {groups, parts: [{geometry, material}], sphere}, or null
	}

	add(doc) {
		for (const m of doc.meshes) {
			if (this.meshes.has(m.name))
				continue;
			// null: the host could not read it, nothing to draw
			this.meshes.set(m.name, m.groups ? mergeGroups(m) : null);
		}
	}

	has(name) {
		return this.meshes.has(name);
	}
}

// A mesh's visible groups, one geometry per material, with the bounds of the whole.
function mergeGroups(m) {
	const materials = new Map();  // by material index and whether unlit
	m.groups.forEach((g, index) => {
		if (g.flags & GROUP_HIDDEN)
			return;
		const unlit = (g.flags & GROUP_UNLIT) !== 0, key = g.material * 2 + (unlit ? 1 : 0);
		if (!materials.has(key))
			materials.set(key, {material: makeMaterial(g.material > 0 ? m.materials[g.material - 1] : null, unlit), groups: []});
		materials.get(key).groups.push({index, g});
	});
	const parts = [...materials.values()].map(({material, groups}) => ({geometry: mergedGeometry(groups), material}));
	const box = new THREE.Box3();
	for (const part of parts)
		box.union(part.geometry.boundingBox);
	// Room for parts that move: the posed mesh is not measured again.
	const sphere = box.isEmpty() ? new THREE.Sphere() : box.getBoundingSphere(new THREE.Sphere());
	sphere.radius = sphere.radius * 1.5 + 1;
	return {groups: m.groups.length, labels: m.groups.map(g => g.label || ''), parts, sphere};
}

function mergedGeometry(groups) {
	let vertices = 0, indices = 0;
	for (const {g} of groups) {
		vertices += g.positions.length / 3;
		indices += g.indices.length;
	}
	const position = new Float32Array(vertices * 3), normal = new Float32Array(vertices * 3);
	const bone = new Uint16Array(vertices * 4), weight = new Float32Array(vertices * 4);
	const index = vertices > 65536 ? new Uint32Array(indices) : new Uint16Array(indices);
	let v = 0, i = 0;
	for (const {index: group, g} of groups) {
		position.set(g.positions, v * 3);
		normal.set(g.normals, v * 3);
		const end = v + g.positions.length / 3;
		for (let k = v; k < end; ++k) {
			bone[k * 4] = group;
			weight[k * 4] = 1;
		}
		for (const x of g.indices)
			index[i++] = x + v;
		v = end;
	}
	const geometry = new THREE.BufferGeometry();
	geometry.setAttribute('position', new THREE.BufferAttribute(position, 3));
	geometry.setAttribute('normal', new THREE.BufferAttribute(normal, 3));
	geometry.setAttribute('skinIndex', new THREE.BufferAttribute(bone, 4));
	geometry.setAttribute('skinWeight', new THREE.BufferAttribute(weight, 4));
	geometry.setIndex(new THREE.BufferAttribute(index, 1));
	geometry.computeBoundingBox();
	return geometry;
}

// One vessel of the scene: its frame in Orbiter's coordinates, its mesh groups, lights and beacons.
class VesselView {
	constructor(name, scene) {
		this.name = name;
		this.root = new THREE.Group();
		this.root.matrixAutoUpdate = false;
		this.root.visible = false;  // until it is placed
		scene.add(this.root);
		this.slots = [];       // the server's mesh slots: {mesh, offset, visibility}
		this.built = false;    // whether the slots' meshes are made
		this.meshRoots = [];
		this.bones = [];       // per mesh, per group: the bone that poses it
		this.skeletons = [];   // per mesh: its bones' texture, for the draws
		this.poses = [];       // per mesh, per group: the transform last sent, as the server sends it
		this.labels = [];      // per mesh, per group: its label in the mesh file
		this.spots = [];
		this.sprites = [];
		this.beaconSpecs = [];
		this.place = null;
		this.position = new THREE.Vector3();
	}

	setSlots(slots, library) {
		this.slots = slots;
		for (const root of this.meshRoots)
			this.root.remove(root);
		this.dropSkeletons();
		this.meshRoots = [];
		this.bones = [];
		this.built = false;
		this.build(library);
	}

	dropSkeletons() {
		for (const skeleton of this.skeletons)
			skeleton.dispose();
		this.skeletons = [];
	}

	// Makes the slots' meshes once the library has them all; false while it lacks one.
	build(library) {
		if (this.built)
			return true;
		if (!this.slots.every(s => library.has(s.mesh)))
			return false;
		this.slots.forEach((slot, mi) => {
			const root = new THREE.Group();
			if (slot.offset)
				root.position.set(slot.offset[0], slot.offset[1], slot.offset[2]);
			this.root.add(root);
			this.meshRoots[mi] = root;
			const mesh = library.meshes.get(slot.mesh);
			this.bones[mi] = [];
			this.labels[mi] = mesh ? mesh.labels : [];
			if (!mesh)
				return;
			// The bones stay out of the scene graph: their world matrices are the groups' poses
			// in the mesh's frame, set from the server's, which the skeleton reads at each draw.
			this.bones[mi] = Array.from({length: mesh.groups}, () => new THREE.Bone());
			const skeleton = new THREE.Skeleton(this.bones[mi]);
			this.skeletons.push(skeleton);
			for (const part of mesh.parts) {
				const drawn = new THREE.SkinnedMesh(part.geometry, part.material);
				drawn.bindMode = THREE.DetachedBindMode;
				drawn.bind(skeleton, new THREE.Matrix4());
				drawn.boundingSphere = mesh.sphere;
				root.add(drawn);
			}
		});
		this.built = true;
		this.applyPoses();
		return true;
	}

	// Poses [mesh, group, 3x3 row-major, translation]; a whole vessel's start from the mesh file's.
	setPoses(list, reset) {
		if (reset)
			this.poses = [];
		for (const p of list) {
			(this.poses[p[0]] = this.poses[p[0]] || [])[p[1]] = p;
		}
		this.applyPoses(reset);
	}

	applyPoses(reset = true) {
		if (!this.built)
			return;
		this.bones.forEach((bones, mi) => bones.forEach((bone, gi) => {
			const p = this.poses[mi] && this.poses[mi][gi];
			if (p)
				bone.matrixWorld.set(p[2], p[3], p[4], p[11], p[5], p[6], p[7], p[12], p[8], p[9], p[10], p[13], 0, 0, 0, 1);
			else if (reset)
				bone.matrixWorld.identity();
		}));
	}

	// The mean turn [rad, to the right] of its first mesh's front forks (the groups labelled so)
	// about the vessel's up axis, as their poses have it; null for a mesh without them.
	frontWheels() {
		const turns = [];
		(this.labels[0] || []).forEach((label, gi) => {
			if (!/front_fork$/.test(label))
				return;
			const p = this.poses[0] && this.poses[0][gi];
			turns.push(p ? Math.atan2(p[4], p[10]) : 0);  // where the pose takes the fork's forward axis
		});
		return turns.length ? turns.reduce((a, b) => a + b) / turns.length : null;
	}

	// Its place from the scene's origin: east, up, -north, with the vessel's attitude; in
	// flight x, y, -z of the focus's frame.
	locate(toLocal) {
		const place = this.place;
		let x, y, z;
		if (place.pos) {
			[x, y, z] = place.pos;
		} else {
			[x, z] = toLocal(place.lng, place.lat);
			y = place.ground + place.alt;
		}
		const a = place.attitude;
		const m = new THREE.Matrix4().set(a[0], a[1], a[2], x, a[3], a[4], a[5], y, a[6], a[7], a[8], z, 0, 0, 0, 1);
		this.root.matrix.multiplyMatrices(MIRROR, m);
		this.root.matrixWorldNeedsUpdate = true;
		this.root.updateMatrixWorld(true);
		this.position.set(x, y, -z);
		// A place the host could not give (not finite numbers come as null) is not drawn.
		this.root.visible = [x, y, z, ...a].every(Number.isFinite);
	}

	// The spot lights light what they shine on; in vacuum nothing scatters their light, so
	// their beams themselves are not seen.
	setLights(lights) {
		if (this.spots.length !== lights.length) {
			for (const s of this.spots)
				this.root.remove(s.light, s.light.target);
			this.spots = lights.map(() => {
				const light = new THREE.SpotLight(0xffffff, 0, 0, Math.PI / 4, 0.5, 2);
				this.root.add(light, light.target);
				return {light};
			});
		}
		lights.forEach((l, i) => {
			const {light} = this.spots[i];
			const spot = l.type === 2;
			const dir = new THREE.Vector3(l.dir[0], l.dir[1], l.dir[2]);
			if (dir.lengthSq() === 0)
				dir.set(0, 0, 1);
			dir.normalize();
			light.position.set(l.pos[0], l.pos[1], l.pos[2]);
			light.target.position.copy(light.position).add(dir);
			light.color.setRGB(l.diffuse[0], l.diffuse[1], l.diffuse[2]);
			light.distance = l.range;
			// Orbiter's apertures are whole cone angles; full light inside the umbra, none
			// beyond the penumbra.
			light.angle = spot ? Math.min(l.penumbra / 2, Math.PI / 2) : Math.PI / 2;
			light.penumbra = spot && l.penumbra > 0 ? 1 - l.umbra / l.penumbra : 0;
			// Its quadratic attenuation term sets the strength: I = 1 / (att2 d^2) far off.
			light.intensity = l.active ? 0.08 / Math.max(l.att[2], 1e-4) : 0;
			light.visible = l.active;  // the renderer leaves out lights that are not
		});
	}

	// Which beacons shine at simt, as a string: the scene is drawn again when it changes.
	beaconsLit(simt) {
		return this.beaconSpecs.map(b => beaconLit(b, simt) ? '1' : '0').join('');
	}

	updateBeacons(simt, cameraPos) {
		while (this.sprites.length < this.beaconSpecs.length) {
			const sprite = new THREE.Sprite(new THREE.SpriteMaterial({
				map: starTexture(), blending: THREE.AdditiveBlending, depthWrite: false, transparent: true}));
			this.root.add(sprite);
			this.sprites.push(sprite);
		}
		this.sprites.forEach((sprite, i) => {
			const b = this.beaconSpecs[i];
			sprite.visible = beaconLit(b, simt);
			if (!sprite.visible)
				return;
			sprite.position.set(b.pos[0], b.pos[1], b.pos[2]);
			sprite.material.color.setRGB(b.col[0], b.col[1], b.col[2]);
			const distance = sprite.getWorldPosition(new THREE.Vector3()).distanceTo(cameraPos);
			let size = b.size;
			if (distance > BEACON_NEAR)
				size *= Math.pow(distance / BEACON_NEAR, b.falloff);
			sprite.scale.setScalar(size * 4);  // the star's rays reach beyond its radius
		});
	}

	// Its meshes as seen from the cockpit of the focus (inside) or from outside.
	showFrom(inside) {
		this.slots.forEach((slot, i) => {
			if (this.meshRoots[i])
				this.meshRoots[i].visible = (slot.visibility & (inside ? MESHVIS_COCKPIT : MESHVIS_EXTERNAL)) !== 0;
		});
	}

	dispose(scene) {
		scene.remove(this.root);
		this.dropSkeletons();
		for (const sprite of this.sprites)
			sprite.material.dispose();
	}
}

// The vessels in sight beyond the nearest: a round dot each, standing on the ground where the
// vessel is, all drawn in one call of one vertex each (boxes turned to each one's heading cost
// a software renderer a quarter of a second with 10,000 of them).
class Markers {
	constructor(scene) {
		this.scene = scene;
		this.material = markerMaterial();
		this.index = new Map();   // name -> point
		this.names = [];          // point -> name
		this.places = [];         // point -> [lng, lat, hdg, height]
		this.points = null;
		this.grow(64);
	}

	get count() {
		return this.names.length;
	}

	get positions() {
		return this.points.geometry.getAttribute('position');
	}

	grow(capacity) {
		const positions = new Float32Array(capacity * 3);
		if (this.points) {
			positions.set(this.positions.array.subarray(0, this.count * 3));
			this.scene.remove(this.points);
			this.points.geometry.dispose();
		}
		const geometry = new THREE.BufferGeometry();
		geometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
		this.points = new THREE.Points(geometry, this.material);
		this.points.frustumCulled = false;  // the points spread far beyond any bounds it kept
		this.scene.add(this.points);
		this.changed();
	}

	changed() {
		this.points.geometry.setDrawRange(0, this.count);
		this.positions.needsUpdate = true;
	}

	// [name, lng, lat, hdg, height] as the server sends them; in flight [name, x, y, z].
	set(entry, toLocal) {
		const name = entry[0];
		let i = this.index.get(name);
		if (i === undefined) {
			if (this.count === this.positions.count)
				this.grow(this.count * 2);
			i = this.names.length;
			this.names.push(name);
			this.index.set(name, i);
		}
		this.places[i] = entry.slice(1);
		this.place(i, toLocal);
	}

	place(i, toLocal) {
		const p = this.places[i];
		if (p.length === 3) {
			this.positions.setXYZ(i, p[0], p[1], -p[2]);
		} else {
			const [lng, lat, , height] = p;
			const [east, north] = toLocal(lng, lat);
			this.positions.setXYZ(i, east, height + MARKER_SIZE / 2, -north);
		}
		this.changed();
	}

	// Every marker again, from another origin.
	placeAll(toLocal) {
		for (let i = 0; i < this.count; ++i)
			this.place(i, toLocal);
	}

	drop(name) {
		const i = this.index.get(name);
		if (i === undefined)
			return false;
		// The last point takes its slot.
		const last = this.count - 1, positions = this.positions;
		if (i !== last) {
			this.names[i] = this.names[last];
			this.places[i] = this.places[last];
			this.index.set(this.names[i], i);
			positions.setXYZ(i, positions.getX(last), positions.getY(last), positions.getZ(last));
		}
		this.names.pop();
		this.places.pop();
		this.index.delete(name);
		this.changed();
		return true;
	}

	clear() {
		for (const name of [...this.names])
			this.drop(name);
	}
}

const UP = new THREE.Vector3(0, 1, 0);
const ZERO_PLACE = () => [0, 0];  // where markers wait until the scene has its origin

export class View {
	constructor(container) {
		// Smoothed edges cost a renderer in software a third of its draw.
		this.renderer = new THREE.WebGLRenderer({antialias: !drawnInSoftware(), preserveDrawingBuffer: true});
		this.resolution = new Resolution(this.renderer.getContext(), () => this.resize());
		container.appendChild(this.renderer.domElement);
		this.scene = new THREE.Scene();
		this.scene.background = new THREE.Color(0x05070c);
		this.camera = new THREE.PerspectiveCamera(50, 1, NEAR_CHASE, 5000);
		this.controls = new OrbitControls(this.camera, this.renderer.domElement);
		this.controls.maxPolarAngle = Math.PI * 0.495;
		this.controls.minDistance = 4;
		this.controls.maxDistance = 400;
		this.controls.enablePan = false;  // the chase camera keeps the focus vessel in the middle
		this.controls.addEventListener('change', () => this.requestRender());
		this.cockpit = false;
		this.look = {yaw: 0, pitch: 0};  // the driver's turn of the cockpit view [rad]
		this.cameraResets = -1;
		this.addLook(container);

		// The Sun where the server says it stands over the focus, else a fixed light.
		this.sunLight = new THREE.DirectionalLight(0xfff6e8, 2.2);
		this.scene.add(this.sunLight);
		this.skyLight = new THREE.HemisphereLight(0x8a94b0, 0x2c2a26, 0.7);
		this.scene.add(this.skyLight);
		this.setSun(null);
		this.below = null;         // the body under a focus in flight, drawn simply

		this.library = new MeshLibrary();
		this.markers = new Markers(this.scene);
		this.expected = null;      // vessels in sight when the fresh state began
		this.received = 0;         // of them, those its pieces brought so far
		this.complete = false;     // whether every piece is here
		this.behind = false;       // the fresh state came because this tab fell behind
		this.chaseYaw = null;      // the focus's heading the chase camera last followed [rad]
		this.simtAt = 0;           // when the last frame came [ms of the page's clock]
		this.beaconTimer = null;
		this.meshesLoading = false;
		this.vessels = new Map();  // by name
		this.focus = null;         // the focus as the last frame gave it: {name, body, radius, ...}
		this.origin = null;        // lng, lat [rad] of the scene's origin, on the focus's body
		this.radius = 1;
		this.cameraSpec = {offset: [0, 0, 0], dir: [0, 0, 1], polar: 0, azimuth: 0, resets: 0};
		this.simt = 0;
		this.lit = '';             // which beacons shone when last drawn
		// The ground: fine around the focus, coarse (and a little lower, so that the fine one
		// shows where both are) under the markers beyond it. Of the coarse one's points only every
		// `every`-th of each row and column is drawn: a renderer in software pays for each of its
		// triangles, most of them out of sight, even when the picture is drawn at fewer pixels.
		this.nearGround = {n: 65, spacing: 4, every: 1, below: 0, mesh: null, centre: null, loading: false};
		this.farGround = {n: 129, spacing: 50, every: 2, below: 0.5, mesh: null, centre: null, loading: false};
		this.placed = false;       // whether the chase camera was put behind the focus
		this.rendered = 0;         // draws so far
		this.renderQueued = false;
		this.rendering = false;
		this.stillTimer = null;    // the wait before a still scene is drawn whole
		this.movedAt = 0;          // when a draw was last asked for because something moved [ms]
		this.whole = false;        // the scene is drawn at the window's full resolution
		this.onRender = null;
		this.resize();
		window.addEventListener('resize', () => this.resize());
	}

	resize() {
		const w = window.innerWidth, h = window.innerHeight;
		const scale = this.whole ? 1 : this.resolution.scale;
		this.renderer.setPixelRatio(Math.min(window.devicePixelRatio, 2) * scale);
		this.renderer.setSize(w, h);
		this.camera.aspect = w / h;
		this.camera.updateProjectionMatrix();
		this.requestRender();
	}

	// Draws at the next animation frame, once however often it is asked. A draw that nothing
	// moved for (a beacon's blink, the still scene's whole draw) is not motion.
	requestRender(moving = true) {
		if (moving)
			this.movedAt = performance.now();
		if (this.renderQueued || this.rendering)
			return;
		this.renderQueued = true;
		requestAnimationFrame(() => {
			this.renderQueued = false;
			this.render();
		});
	}

	// Whether nothing is on its way that would be drawn: meshes, terrain, a draw asked for, the
	// still scene's draw at full resolution.
	settled() {
		return !this.meshesLoading && !this.terrainLoading && (this.terrain !== null || this.inFlight()) &&
		       !this.renderQueued && this.stillTimer === null;
	}

	// A scene drawn at less than the window's resolution is drawn whole once nothing has moved
	// for a while, and stays whole until something does: still, it shows its edges sharp.
	drawWholeWhenStill() {
		clearTimeout(this.stillTimer);
		this.stillTimer = null;
		if (this.whole || this.resolution.scale >= 1)
			return;
		this.stillTimer = setTimeout(() => {
			this.stillTimer = null;
			this.requestRender(false);
		}, STILL_AFTER);
	}

	// The vessels whose meshes the scene shows.
	drawnVessels() {
		return [...this.vessels.values()].filter(v => v.built && v.root.visible && v.slots.length > 0).map(v => v.name);
	}

	// The Sun over the focus: {dir: [east, up, north], up} as the server sends it, or null for
	// the fixed light of a body the server has no Sun for. By day in vacuum nothing but the
	// Sun and the ground's light thrown back lights the scene; by night the earthshine and the
	// stars, dim, and the vessels' own lights.
	setSun(sun) {
		if (!sun) {
			this.sunLight.position.set(40, 70, 30);
			this.sunLight.intensity = 2.2;
			this.skyLight.color.set(0x8a94b0);
			this.skyLight.groundColor.set(0x2c2a26);
			this.skyLight.intensity = 0.7;
		} else {
			const [east, up, north] = sun.dir;
			this.sunLight.position.set(east * 100, up * 100, -north * 100);
			this.sunLight.intensity = sun.up ? 2.8 : 0;
			this.skyLight.color.set(sun.up ? 0x1c1e24 : 0x1a2232);
			this.skyLight.groundColor.set(sun.up ? 0x77716a : 0x0c0d10);
			this.skyLight.intensity = sun.up ? 0.9 : 0.35;
		}
		this.requestRender();
	}

	// Whether the focus is in flight: no terrain then, and the vessels in its frame.
	inFlight() {
		return !!(this.focus && this.focus.flight);
	}

	// The body under a focus in flight, {body, radius, height [m]} or null: a sphere of the
	// size it looks from there, at a distance within the camera's reach, drawn behind everything.
	setBelow(below) {
		if (this.below) {
			this.scene.remove(this.below);
			this.below.geometry.dispose();
			this.below.material.dispose();
			this.below = null;
		}
		if (below && below.radius > 0 && below.height > 0) {
			const centre = BELOW_AT, scale = centre / (below.radius + below.height);
			const material = new THREE.MeshLambertMaterial({color: 0x6f86b0, depthTest: false, depthWrite: false});
			this.below = new THREE.Mesh(new THREE.SphereGeometry(below.radius * scale, 96, 48), material);
			this.below.position.set(0, -centre, 0);
			this.below.renderOrder = -1;
			this.scene.add(this.below);
		}
		this.requestRender();
	}

	// The front wheels' deflection of a vessel [rad, to the right]; null when it shows none.
	frontWheels(name) {
		const v = this.vessels.get(name);
		return v && v.built ? v.frontWheels() : null;
	}

	// A vessel's mesh as it is drawn: per mesh slot, the corners of its triangles posed as the
	// GPU poses them [m, in the slot's frame], and the poses the server sent for its groups.
	posedMeshes(name) {
		const v = this.vessels.get(name), p = new THREE.Vector3();
		return v.meshRoots.map((root, mi) => ({mesh: v.slots[mi].mesh, poses: v.poses[mi] || [],
		                                       corners: root.children.flatMap(part =>
		                                           [...part.geometry.index.array].map(k => part.getVertexPosition(k, p).toArray()))}));
	}

	// --- Meshes: the document again whenever a vessel shows one the page lacks ---

	setMeshes(doc) {
		this.library.add(doc);
		for (const v of this.vessels.values())
			if (!v.built && v.build(this.library))
				this.requestRender();
	}

	fetchMeshes() {
		if (this.meshesLoading)
			return;
		this.meshesLoading = true;
		fetch('/api/mesh')
			.then(r => r.ok ? r.json() : Promise.reject(new Error(`meshes: ${r.status}`)))
			.then(doc => this.setMeshes(doc))
			.catch(err => console.warn(err))
			.finally(() => { this.meshesLoading = false; });
	}

	// --- A frame from the server ---

	applyFrame(f) {
		if (f.reset)
			this.reset(f.reset);
		let changed = this.applyFocus(f);
		for (const name of f.gone || [])
			this.drop(name);
		const moved = new Set();
		changed = this.applyVessels(f.vessels || [], moved) || changed;
		changed = this.applyMarkers(f.markers || []) || changed;
		if ('below' in f)
			this.setBelow(f.below);
		if (f.camera) {
			this.cameraSpec = f.camera;
			if (f.camera.resets !== this.cameraResets || 'focus' in f) {
				this.cameraResets = f.camera.resets;
				this.look = {yaw: 0, pitch: 0};  // as the module's reset of the cockpit view
			}
			changed = changed || this.cockpit;
		}
		this.simt = f.simt;
		this.simtAt = performance.now();
		this.placeAll(moved);
		if (changed || this.beaconsLit() !== this.lit)
			this.requestRender();
		this.watchBeacons();
	}

	// A fresh state begins: what the page had goes, and its vessels follow in pieces.
	reset(r) {
		for (const name of [...this.vessels.keys()])
			this.drop(name);
		this.markers.clear();
		this.expected = r.vessels;
		this.received = 0;
		this.behind = r.behind;
		this.complete = r.vessels === 0;
	}

	applyPiece(p) {
		const moved = new Set();
		this.applyVessels(p.vessels, moved);
		this.applyMarkers(p.markers);
		this.received += p.vessels.length + p.markers.length;
		this.complete = p.piece.next >= p.piece.end;
		this.placeAll(moved);
		this.requestRender();
	}

	// What is still loading, for the status line; null once everything in sight is here.
	loading() {
		if (this.meshesLoading)
			return 'loading the vessels\' meshes…';
		if (this.expected === null)
			return 'waiting for the first frame…';
		if (!this.complete) {
			const of = `${Math.min(this.received, this.expected).toLocaleString('en')} of ${this.expected.toLocaleString('en')}`;
			return `${this.behind ? 'this tab fell behind and is catching up: ' : ''}loading the vessels in sight: ${of}`;
		}
		if (!this.terrain && this.focus && this.focus.body && !this.focus.flight)
			return 'loading the terrain…';
		return null;
	}

	applyFocus(f) {
		if (!('focus' in f))
			return false;
		const old = this.focus;
		this.focus = f.focus;
		const body = f.focus && f.focus.body;
		if (!old || !f.focus || old.body !== body || !!old.flight !== this.inFlight()) {
			// Another body (or none), or from the ground to flight: the scene starts again at the new focus.
			this.origin = null;
			this.radius = f.focus && f.focus.radius ? f.focus.radius : 1;
			this.dropTerrain();
			this.placed = false;
			if (!this.inFlight())
				this.setBelow(null);
			// In flight the chase camera may go anywhere about the focus; on the ground, above it.
			this.controls.maxPolarAngle = this.inFlight() ? Math.PI : Math.PI * 0.495;
		} else if (old.name !== f.focus.name) {
			this.placed = false;  // the chase camera goes behind the new focus
		}
		return true;
	}

	// Vessels drawn in 3D: whole when new, else what changed of them.
	applyVessels(entries, moved) {
		for (const e of entries) {
			let v = this.vessels.get(e.name);
			if (!v) {
				this.markers.drop(e.name);
				this.vessels.set(e.name, v = new VesselView(e.name, this.scene));
			}
			if (e.meshes) {
				v.setSlots(e.meshes, this.library);
				if (!v.built)
					this.fetchMeshes();
			}
			if (e.poses)
				v.setPoses(e.poses, !!e.full);
			if (e.place) {
				v.place = e.place;
				moved.add(v);
			}
			if (e.lights)
				v.setLights(e.lights);
			if (e.beacons)
				v.beaconSpecs = e.beacons;
		}
		return entries.length > 0;
	}

	applyMarkers(entries) {
		for (const m of entries) {
			if (this.vessels.has(m[0]))
				this.drop(m[0]);  // from 3D to a marker
			this.markers.set(m, this.origin ? (lng, lat) => this.toLocal(lng, lat) : ZERO_PLACE);
		}
		return entries.length > 0;
	}

	// The vessels that moved in place, the chase camera behind a new focus and the terrain
	// around it; every vessel and marker again when the scene takes its origin.
	placeAll(moved) {
		const focus = this.focusVessel();
		if (!this.origin && focus && focus.place) {
			// The scene's origin is where the focus first stands; in flight, the focus itself.
			this.origin = focus.place.pos ? {lng: 0, lat: 0} : {lng: focus.place.lng, lat: focus.place.lat};
			for (const v of this.vessels.values())
				if (v.place)
					moved.add(v);
			this.markers.placeAll((lng, lat) => this.toLocal(lng, lat));
		}
		if (!this.origin)
			return;
		for (const v of moved)
			v.locate((lng, lat) => this.toLocal(lng, lat));
		if (focus && focus.place) {
			if (!this.placed) {
				this.placeChaseCamera();
				this.placed = true;
			}
			if (!this.inFlight())
				this.followTerrain(focus.place.lng, focus.place.lat);
		}
	}

	focusVessel() {
		return this.focus ? this.vessels.get(this.focus.name) : undefined;
	}

	drop(name) {
		if (this.markers.drop(name))
			this.requestRender();
		const v = this.vessels.get(name);
		if (!v)
			return;
		v.dispose(this.scene);
		this.vessels.delete(name);
		this.requestRender();
	}

	// The simulation's time now, as far as the page can tell between frames: at rest they come
	// about once a second, and a beacon's strobe still blinks in time.
	simtNow() {
		return this.simt + Math.min(2, (performance.now() - this.simtAt) / 1000);
	}

	// While a strobe shines, the page looks again a few times a second whether to draw.
	watchBeacons() {
		const strobing = [...this.vessels.values()].some(v => v.beaconSpecs.some(b => b && b.active && b.period > 0));
		if (!strobing || this.beaconTimer !== null)
			return;
		this.beaconTimer = setTimeout(() => {
			this.beaconTimer = null;
			if (this.beaconsLit() !== this.lit)
				this.requestRender(false);
			this.watchBeacons();
		}, 100);
	}

	beaconsLit() {
		let lit = '';
		for (const v of this.vessels.values())
			lit += v.beaconsLit(this.simtNow()) + '|';
		return lit;
	}

	// East and north [m] of a surface point from the scene's origin.
	toLocal(lng, lat) {
		return [(lng - this.origin.lng) * this.radius * Math.cos(this.origin.lat), (lat - this.origin.lat) * this.radius];
	}

	// --- Terrain: a patch around the focus, fetched again when it nears the edge; and, while
	// markers show vessels further off, a coarse one under them ---

	followTerrain(lng, lat) {
		this.fetchTerrain(this.nearGround, lng, lat);
		if (this.markers.count > 0)
			this.fetchTerrain(this.farGround, lng, lat);
	}

	fetchTerrain(ground, lng, lat) {
		if (ground.loading || !this.focus || !this.focus.body || this.focus.flight)
			return;
		if (ground.centre) {
			const [e0, n0] = this.toLocal(ground.centre.lng, ground.centre.lat);
			const [e, n] = this.toLocal(lng, lat);
			if (Math.hypot(e - e0, n - n0) < ground.centre.reach)
				return;
		}
		ground.loading = true;
		const body = this.focus.body;
		fetch(`/api/terrain?lng=${lng}&lat=${lat}&body=${encodeURIComponent(body)}&n=${ground.n}&spacing=${ground.spacing}`)
			.then(r => r.ok ? r.json() : Promise.reject(new Error(`terrain: ${r.status}`)))
			.then(doc => { if (this.focus && this.focus.body === body && this.origin) this.setTerrain(ground, doc); })
			.catch(err => console.warn(err))
			.finally(() => { ground.loading = false; });
	}

	get terrain() {
		return this.nearGround.mesh;
	}

	get terrainLoading() {
		return this.nearGround.loading || this.farGround.loading;
	}

	dropTerrain() {
		for (const ground of [this.nearGround, this.farGround]) {
			if (!ground.mesh)
				continue;
			this.scene.remove(ground.mesh);
			ground.mesh.geometry.dispose();
			ground.mesh.material.dispose();
			ground.mesh = null;
			ground.centre = null;
		}
	}

	setTerrain(ground, doc) {
		const every = ground.every, n = Math.floor((doc.n - 1) / every) + 1, half = (doc.n - 1) / 2;
		const positions = new Float32Array(n * n * 3);
		const rCosLat = doc.radius * Math.cos(doc.lat);
		for (let j = 0; j < n; ++j)
			for (let i = 0; i < n; ++i) {
				// The server's grid points, placed as the vessels are.
				const col = i * every, row = j * every;
				const lng = doc.lng + (col - half) * doc.spacing / rCosLat;
				const lat = doc.lat + (row - half) * doc.spacing / doc.radius;
				const [east, north] = this.toLocal(lng, lat);
				positions.set([east, doc.heights[row * doc.n + col] - ground.below, -north], (j * n + i) * 3);
			}
		const geometry = new THREE.BufferGeometry();
		geometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
		geometry.setIndex(new THREE.BufferAttribute(new Uint32Array((n - 1) * (n - 1) * 6), 1));
		gridTriangles(geometry, n, null);
		geometry.computeVertexNormals();
		geometry.computeBoundingBox();
		// Lambert's shading: regolith is matt, and a software renderer draws it at less cost.
		const mesh = new THREE.Mesh(geometry, groundMaterial());
		mesh.userData.n = n;
		if (ground.mesh) {
			this.scene.remove(ground.mesh);
			ground.mesh.geometry.dispose();
			ground.mesh.material.dispose();
		}
		ground.mesh = mesh;
		this.scene.add(mesh);
		ground.centre = {lng: doc.lng, lat: doc.lat, reach: doc.spacing * (n - 1) / 4};
		this.uncoverFarGround();
		this.requestRender();
	}

	// The coarse ground less its cells that the fine one covers whole: drawn beneath it, they
	// would cost a software renderer as much as all the rest of the ground.
	uncoverFarGround() {
		const far = this.farGround.mesh, near = this.nearGround.mesh;
		if (!far)
			return;
		let covered = null;
		if (near) {
			const box = near.geometry.boundingBox.clone().expandByScalar(-1);  // [m] of margin
			const p = far.geometry.getAttribute('position');
			covered = k => p.getX(k) >= box.min.x && p.getX(k) <= box.max.x && p.getZ(k) >= box.min.z && p.getZ(k) <= box.max.z;
		}
		gridTriangles(far.geometry, far.userData.n, covered);
	}

	// --- Cameras ---

	placeChaseCamera() {
		const v = this.focusVessel();
		if (!v || !v.place)
			return;
		const forward = new THREE.Vector3(0, 0, 1).transformDirection(v.root.matrixWorld);
		const target = v.position.clone().add(new THREE.Vector3(0, 1, 0));
		this.camera.position.copy(target).addScaledVector(forward, -13).add(new THREE.Vector3(0, 5, 0));
		this.controls.target.copy(target);
		this.controls.update();
		this.chaseYaw = headingOf(v);
	}

	// The chase camera goes with the focus and turns with it, keeping the user's orbit about it.
	followFocus(focus) {
		const target = focus.position.clone().add(new THREE.Vector3(0, 1, 0));
		const yaw = headingOf(focus);
		this.camera.up.set(0, 1, 0);
		this.camera.position.add(target.clone().sub(this.controls.target));
		if (this.chaseYaw !== null && yaw !== this.chaseYaw) {
			const offset = this.camera.position.clone().sub(target).applyAxisAngle(UP, -(yaw - this.chaseYaw));
			this.camera.position.copy(target).add(offset);
		}
		this.chaseYaw = yaw;
		this.controls.target.copy(target);
		this.controls.update();
	}

	// The angle [rad] between where the chase camera looks, seen from above, and the focus's
	// heading: 0 behind it.
	chaseAngle() {
		const focus = this.focusVessel();
		if (!focus || this.cockpit)
			return null;
		const look = this.controls.target.clone().sub(this.camera.position);
		const turn = Math.atan2(look.x, -look.z) - headingOf(focus);
		return Math.atan2(Math.sin(turn), Math.cos(turn));
	}

	setCockpit(on) {
		this.cockpit = on;
		this.camera.near = on ? NEAR_COCKPIT : NEAR_CHASE;
		this.camera.updateProjectionMatrix();
		this.controls.enabled = !on;
		if (!on && this.placed)
			this.placeChaseCamera();
		this.requestRender();
	}

	addLook(container) {
		let drag = null;
		container.addEventListener('pointerdown', e => { if (this.cockpit) drag = {x: e.clientX, y: e.clientY}; });
		window.addEventListener('pointerup', () => { drag = null; });
		window.addEventListener('pointermove', e => {
			if (!drag || !this.cockpit)
				return;
			this.look.yaw -= (e.clientX - drag.x) * 0.005;
			this.look.pitch = Math.max(-1.4, Math.min(1.4, this.look.pitch - (e.clientY - drag.y) * 0.005));
			drag = {x: e.clientX, y: e.clientY};
			this.requestRender();
		});
	}

	updateCamera() {
		const focus = this.focusVessel();
		if (!this.placed || !focus)
			return;
		if (this.cockpit) {
			const c = this.cameraSpec;
			const m = focus.root.matrixWorld;
			const eye = new THREE.Vector3(...c.offset).applyMatrix4(m);
			// The station's default direction, turned by the module's polar and azimuth and
			// then by the driver's own look, about the vessel's up and right axes.
			const dir = new THREE.Vector3(...c.dir).normalize();
			const turn = new THREE.Euler(-(c.polar + this.look.pitch), c.azimuth + this.look.yaw, 0, 'YXZ');
			const base = new THREE.Quaternion().setFromUnitVectors(new THREE.Vector3(0, 0, 1), dir);
			const local = new THREE.Vector3(0, 0, 1).applyEuler(turn).applyQuaternion(base);
			const world = local.transformDirection(m);
			this.camera.up.copy(new THREE.Vector3(0, 1, 0).transformDirection(m));
			this.camera.position.copy(eye);
			this.camera.lookAt(eye.clone().add(world));
		} else {
			this.followFocus(focus);
		}
	}

	// The lights of the vessels nearest the camera, no more than MAX_LIGHTS.
	limitLights() {
		const lit = [];
		for (const v of this.vessels.values())
			for (const s of v.spots)
				if (s.light.intensity > 0)
					lit.push([v.position.distanceToSquared(this.camera.position), s.light]);
		lit.sort((a, b) => a[0] - b[0]);
		lit.forEach(([, light], i) => { light.visible = i < MAX_LIGHTS; });
	}

	render() {
		this.rendering = true;  // the chase camera's own update asks for no second draw
		const whole = this.resolution.scale < 1 && performance.now() - this.movedAt >= STILL_AFTER;
		if (whole !== this.whole) {
			this.whole = whole;
			this.renderer.setPixelRatio(Math.min(window.devicePixelRatio, 2) * (whole ? 1 : this.resolution.scale));
		}
		try {
			this.updateCamera();
			this.limitLights();
			const focus = this.focusVessel();
			for (const v of this.vessels.values()) {
				v.showFrom(this.cockpit && v === focus);
				v.updateBeacons(this.simtNow(), this.camera.position);
			}
			this.lit = this.beaconsLit();
			this.renderer.render(this.scene, this.camera);
			// A whole draw costs more than the scale allows: it does not count.
			if (!this.whole)
				this.resolution.measure();
			++this.rendered;
		} finally {
			this.rendering = false;
		}
		this.drawWholeWhenStill();
		if (this.onRender)
			this.onRender();
	}
}

// Whether the browser draws WebGL on the processor (SwiftShader, llvmpipe), as headless and
// GPU-less browsers do.
function drawnInSoftware() {
	const gl = document.createElement('canvas').getContext('webgl2');
	if (!gl)
		return false;
	const info = gl.getExtension('WEBGL_debug_renderer_info');
	const name = `${gl.getParameter(gl.RENDERER)} ${info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : ''}`;
	const lose = gl.getExtension('WEBGL_lose_context');
	if (lose)
		lose.loseContext();
	return /swiftshader|llvmpipe|softpipe|software/i.test(name);
}

// A vessel's heading in the scene [rad], from north towards east.
function headingOf(v) {
	const forward = new THREE.Vector3(0, 0, 1).transformDirection(v.root.matrixWorld);
	return Math.atan2(forward.x, -forward.z);
}

function makeMaterial(m, unlit) {
	if (!m)
		return unlit ? new THREE.MeshBasicMaterial({color: 0xffffff}) : new THREE.MeshPhongMaterial({color: 0xffffff});
	const colour = new THREE.Color().setRGB(m.diffuse[0], m.diffuse[1], m.diffuse[2]);
	const opacity = m.diffuse[3];
	const common = {color: colour, transparent: opacity < 1, opacity, depthWrite: opacity >= 1};
	if (unlit)
		return new THREE.MeshBasicMaterial(common);
	return new THREE.MeshPhongMaterial({
		...common,
		specular: new THREE.Color().setRGB(m.specular[0], m.specular[1], m.specular[2]),
		shininess: m.power,
		emissive: new THREE.Color().setRGB(m.emissive[0], m.emissive[1], m.emissive[2]),
	});
}

// The triangles of a grid of n x n points, counter-clockwise seen from above, into the
// geometry's index; without the cells whose four corners covered(point) says are covered.
function gridTriangles(geometry, n, covered) {
	const index = geometry.index.array;
	let at = 0;
	for (let j = 0; j + 1 < n; ++j)
		for (let i = 0; i + 1 < n; ++i) {
			const a = j * n + i, b = a + 1, c = a + n, d = c + 1;
			if (covered && covered(a) && covered(b) && covered(c) && covered(d))
				continue;
			index[at++] = a, index[at++] = b, index[at++] = c;
			index[at++] = b, index[at++] = d, index[at++] = c;
		}
	geometry.setDrawRange(0, at);
	geometry.index.needsUpdate = true;
}

// Regolith with a line every TERRAIN_GRID metres, so that motion over the ground shows. The
// lines are worked out in the shader from the ground's own coordinates rather than sampled
// from a texture: a renderer in software pays for a filtered texture sample at every pixel
// of the ground, most of the screen, far more than for this arithmetic. Each line fades into
// the average grey where it gets thinner than a pixel, as a texture's smaller mipmaps would.
const GROUND_SHADER = {
	vertex: ['#include <begin_vertex>', `#include <begin_vertex>
		vGround = position.xz / ${TERRAIN_GRID.toFixed(1)};`],
	fragment: ['#include <map_fragment>', `#include <map_fragment>
		{
			vec2 fromLine = 0.5 - abs(fract(vGround) - 0.5);  // [cells] to the nearest line
			vec2 pixel = max(fwidth(vGround), vec2(1e-4));
			const float halfWidth = 0.008;                    // [cells]: 16 cm of a 10 m cell
			vec2 covered = clamp((halfWidth + 0.5 * pixel - fromLine) / pixel, 0.0, 1.0) *
			               min(vec2(1.0), 2.0 * halfWidth / pixel);
			diffuseColor.rgb *= 1.0 - 0.5 * max(covered.x, covered.y);
		}`],
};

function groundMaterial() {
	// Regolith grey, as linear colour.
	const material = new THREE.MeshLambertMaterial({color: new THREE.Color(0x9a968e).multiply(new THREE.Color(0xb8b4ac))});
	material.onBeforeCompile = shader => {
		shader.vertexShader = 'varying vec2 vGround;\n' + shader.vertexShader.replace(...GROUND_SHADER.vertex);
		shader.fragmentShader = 'varying vec2 vGround;\n' + shader.fragmentShader.replace(...GROUND_SHADER.fragment);
	};
	material.customProgramCacheKey = () => 'sendra-ground';
	return material;
}

// Round dots: the corners of each point's square left out, worked out rather than sampled
// from a texture, for the same reason as the ground's lines.
function markerMaterial() {
	const material = new THREE.PointsMaterial({color: 0xd9b24c, size: MARKER_SIZE});
	material.onBeforeCompile = shader => {
		shader.fragmentShader = shader.fragmentShader.replace('#include <clipping_planes_fragment>',
			'#include <clipping_planes_fragment>\n\tif (length(gl_PointCoord - 0.5) > 0.5) discard;');
	};
	material.customProgramCacheKey = () => 'sendra-marker';
	return material;
}

let star = null;
// A four-rayed star with a round glow, white: the beacon's colour tints it.
function starTexture() {
	if (star)
		return star;
	const size = 64, canvas = document.createElement('canvas');
	canvas.width = canvas.height = size;
	const g = canvas.getContext('2d');
	const glow = g.createRadialGradient(size / 2, size / 2, 0, size / 2, size / 2, size / 2);
	glow.addColorStop(0, 'rgba(255,255,255,1)');
	glow.addColorStop(0.25, 'rgba(255,255,255,0.6)');
	glow.addColorStop(1, 'rgba(255,255,255,0)');
	g.fillStyle = glow;
	g.fillRect(0, 0, size, size);
	g.fillStyle = 'rgba(255,255,255,0.8)';
	g.fillRect(size / 2 - 1, 0, 2, size);
	g.fillRect(0, size / 2 - 1, size, 2);
	star = new THREE.CanvasTexture(canvas);
	return star;
}

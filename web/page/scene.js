// The page's 3D scene: the terrain patch, the focus rover posed from the server's per-group
// transforms, its spot lights and beacons, and the chase and cockpit cameras.
import * as THREE from 'three';
import {OrbitControls} from 'three/addons/controls/OrbitControls.js';

// Orbiter's frames are left-handed (x right or east, y up, z forward or north), three.js's
// right-handed: mirroring z takes one to the other. The rover keeps Orbiter's coordinates
// below a mirrored frame, so its mesh, poses, lights and camera stations are used as the
// server sends them; three.js turns the faces' winding round for a mirrored object, which
// makes Orbiter's clockwise front faces its front faces.
const MIRROR = new THREE.Matrix4().makeScale(1, 1, -1);

const GROUP_HIDDEN = 0x2;   // Orbiter mesh group flags
const GROUP_UNLIT = 0x4;
const TERRAIN_GRID = 10;    // [m] between the lines drawn on the ground
const CONE_LENGTH = 14;     // [m] of the visible beam of a spot light
const BEACON_NEAR = 50;     // [m] beyond which a beacon's size follows its falloff

export class View {
	constructor(container, session) {
		this.session = session;
		this.radius = session.body ? session.body.radius : 1;
		this.renderer = new THREE.WebGLRenderer({antialias: true, preserveDrawingBuffer: true});
		this.renderer.setPixelRatio(Math.min(window.devicePixelRatio, 2));
		container.appendChild(this.renderer.domElement);
		this.scene = new THREE.Scene();
		this.scene.background = new THREE.Color(0x05070c);
		this.camera = new THREE.PerspectiveCamera(50, 1, 0.1, 5000);
		this.controls = new OrbitControls(this.camera, this.renderer.domElement);
		this.controls.maxPolarAngle = Math.PI * 0.495;
		this.controls.minDistance = 4;
		this.controls.maxDistance = 400;
		this.cockpit = false;
		this.look = {yaw: 0, pitch: 0};  // the driver's turn of the cockpit view [rad]
		this.cameraResets = -1;
		this.addLook(container);

		const sun = new THREE.DirectionalLight(0xfff6e8, 2.2);
		sun.position.set(40, 70, 30);
		this.scene.add(sun);
		this.scene.add(new THREE.HemisphereLight(0x8a94b0, 0x2c2a26, 0.7));

		this.origin = null;     // lng, lat [rad] of the scene's origin
		this.rover = new THREE.Group();  // the vessel frame, in Orbiter's coordinates
		this.rover.matrixAutoUpdate = false;
		this.scene.add(this.rover);
		this.groups = [];       // per mesh, per group: the three.js mesh
		this.meshRoots = [];
		this.visibility = [];   // per mesh: Orbiter's MESHVIS bits
		this.spots = [];
		this.beacons = [];
		this.beaconSpecs = [];
		this.cameraSpec = {offset: [0, 0, 0], dir: [0, 0, 1], polar: 0, azimuth: 0, resets: 0};
		this.terrain = null;
		this.terrainCentre = null;
		this.terrainLoading = false;
		this.placed = false;
		this.groundTexture = makeGridTexture();
		this.resize();
		window.addEventListener('resize', () => this.resize());
	}

	resize() {
		const w = window.innerWidth, h = window.innerHeight;
		this.renderer.setSize(w, h);
		this.camera.aspect = w / h;
		this.camera.updateProjectionMatrix();
	}

	// --- The rover's meshes, once ---

	setMeshes(doc) {
		doc.meshes.forEach((m, mi) => {
			const root = new THREE.Group();
			if (m.offset)
				root.position.set(m.offset[0], m.offset[1], m.offset[2]);
			this.rover.add(root);
			this.meshRoots[mi] = root;
			this.visibility[mi] = m.visibility;
			this.groups[mi] = [];
			if (!m.groups)
				return;
			const materials = new Map();
			const material = (index, unlit) => {
				const key = index * 2 + (unlit ? 1 : 0);
				if (!materials.has(key))
					materials.set(key, makeMaterial(index > 0 ? m.materials[index - 1] : null, unlit));
				return materials.get(key);
			};
			m.groups.forEach((g, gi) => {
				const geometry = new THREE.BufferGeometry();
				geometry.setAttribute('position', new THREE.Float32BufferAttribute(g.positions, 3));
				geometry.setAttribute('normal', new THREE.Float32BufferAttribute(g.normals, 3));
				geometry.setIndex(g.indices);
				const mesh = new THREE.Mesh(geometry, material(g.material, (g.flags & GROUP_UNLIT) !== 0));
				mesh.name = g.label;
				mesh.matrixAutoUpdate = false;
				mesh.visible = (g.flags & GROUP_HIDDEN) === 0;
				root.add(mesh);
				this.groups[mi][gi] = mesh;
			});
		});
		this.roverReady = true;
	}

	// --- A frame from the server ---

	applyFrame(f) {
		const v = f.vessel;
		this.rover.visible = !!v;
		if (!v)
			return;
		if (f.keyframe)
			for (const meshes of this.groups)
				for (const g of meshes)
					g.matrix.identity(), g.matrixWorldNeedsUpdate = true;
		for (const p of f.poses) {
			const g = this.groups[p[0]] && this.groups[p[0]][p[1]];
			if (!g)
				continue;
			g.matrix.set(p[2], p[3], p[4], p[11], p[5], p[6], p[7], p[12], p[8], p[9], p[10], p[13], 0, 0, 0, 1);
			g.matrixWorldNeedsUpdate = true;
		}
		if (!this.origin)
			this.origin = {lng: v.lng, lat: v.lat};
		const [east, north] = this.toLocal(v.lng, v.lat);
		const a = v.attitude;
		const place = new THREE.Matrix4().set(a[0], a[1], a[2], east, a[3], a[4], a[5], v.ground + v.alt,
		                                      a[6], a[7], a[8], north, 0, 0, 0, 1);
		this.rover.matrix.multiplyMatrices(MIRROR, place);
		this.rover.matrixWorldNeedsUpdate = true;
		this.rover.updateMatrixWorld(true);
		this.position = new THREE.Vector3(east, v.ground + v.alt, -north);

		if (f.lights)
			this.setLights(f.lights);
		if (f.beacons)
			this.beaconSpecs = f.beacons;
		if (f.camera) {
			this.cameraSpec = f.camera;
			if (f.camera.resets !== this.cameraResets) {
				this.cameraResets = f.camera.resets;
				this.look = {yaw: 0, pitch: 0};  // as the module's reset of the cockpit view
			}
		}
		if (!this.placed) {
			this.placeChaseCamera();
			this.placed = true;
		}
		this.followTerrain(v.lng, v.lat);
	}

	// East and north [m] of a surface point from the scene's origin.
	toLocal(lng, lat) {
		return [(lng - this.origin.lng) * this.radius * Math.cos(this.origin.lat), (lat - this.origin.lat) * this.radius];
	}

	// --- Terrain: a patch around the rover, fetched again when it nears the edge ---

	followTerrain(lng, lat) {
		if (this.terrainLoading)
			return;
		if (this.terrainCentre) {
			const [e0, n0] = this.toLocal(this.terrainCentre.lng, this.terrainCentre.lat);
			const [e, n] = this.toLocal(lng, lat);
			if (Math.hypot(e - e0, n - n0) < this.terrainCentre.reach)
				return;
		}
		this.terrainLoading = true;
		fetch(`/api/terrain?lng=${lng}&lat=${lat}`)
			.then(r => r.ok ? r.json() : Promise.reject(new Error(`terrain: ${r.status}`)))
			.then(doc => this.setTerrain(doc))
			.catch(err => console.warn(err))
			.finally(() => { this.terrainLoading = false; });
	}

	setTerrain(doc) {
		const n = doc.n, half = (n - 1) / 2;
		const positions = new Float32Array(n * n * 3), uvs = new Float32Array(n * n * 2);
		const rCosLat = doc.radius * Math.cos(doc.lat);
		for (let j = 0; j < n; ++j)
			for (let i = 0; i < n; ++i) {
				const k = j * n + i;
				// The server's grid points, placed as the rover is.
				const lng = doc.lng + (i - half) * doc.spacing / rCosLat;
				const lat = doc.lat + (j - half) * doc.spacing / doc.radius;
				const [east, north] = this.toLocal(lng, lat);
				positions.set([east, doc.heights[k], -north], k * 3);
				uvs.set([east / TERRAIN_GRID, north / TERRAIN_GRID], k * 2);
			}
		const index = [];
		for (let j = 0; j + 1 < n; ++j)
			for (let i = 0; i + 1 < n; ++i) {
				const a = j * n + i, b = a + 1, c = a + n, d = c + 1;
				index.push(a, b, c, b, d, c);  // counter-clockwise seen from above
			}
		const geometry = new THREE.BufferGeometry();
		geometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
		geometry.setAttribute('uv', new THREE.BufferAttribute(uvs, 2));
		geometry.setIndex(index);
		geometry.computeVertexNormals();
		const mesh = new THREE.Mesh(geometry, new THREE.MeshStandardMaterial({
			color: 0x9a968e, roughness: 1, metalness: 0, map: this.groundTexture}));
		if (this.terrain) {
			this.scene.remove(this.terrain);
			this.terrain.geometry.dispose();
			this.terrain.material.dispose();
		}
		this.terrain = mesh;
		this.scene.add(mesh);
		this.terrainCentre = {lng: doc.lng, lat: doc.lat, reach: doc.spacing * (n - 1) / 4};
	}

	// --- Lights and beacons ---

	setLights(lights) {
		if (this.spots.length !== lights.length) {
			for (const s of this.spots)
				this.rover.remove(s.light, s.light.target, s.cone);
			this.spots = lights.map(() => {
				const light = new THREE.SpotLight(0xffffff, 0, 0, Math.PI / 4, 0.5, 2);
				const cone = new THREE.Mesh(new THREE.BufferGeometry(), new THREE.MeshBasicMaterial({
					color: 0xfff4d8, vertexColors: true, transparent: true, blending: THREE.AdditiveBlending,
					depthWrite: false, side: THREE.DoubleSide}));
				this.rover.add(light, light.target, cone);
				return {light, cone, key: '', on: false};
			});
		}
		lights.forEach((l, i) => {
			const {light, cone} = this.spots[i];
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
			cone.visible = l.active && spot;
			this.spots[i].on = cone.visible;
			const key = `${l.pos}|${dir.toArray()}|${l.penumbra}`;
			if (spot && this.spots[i].key !== key) {
				this.spots[i].key = key;
				const length = Math.min(CONE_LENGTH, l.range);
				const geometry = new THREE.ConeGeometry(length * Math.tan(light.angle), length, 32, 1, true);
				geometry.translate(0, -length / 2, 0);  // apex at the lamp, opening along -y
				// Brightest at the lamp, fading out along the beam.
				const y = geometry.getAttribute('position');
				const rgba = new Float32Array(y.count * 4);
				for (let k = 0; k < y.count; ++k)
					rgba.set([1, 1, 1, 0.16 * (1 + y.getY(k) / length)], k * 4);
				geometry.setAttribute('color', new THREE.BufferAttribute(rgba, 4));
				cone.geometry.dispose();
				cone.geometry = geometry;
				cone.position.copy(light.position);
				cone.quaternion.setFromUnitVectors(new THREE.Vector3(0, -1, 0), dir);
			}
		});
	}

	updateBeacons(simt) {
		while (this.beacons.length < this.beaconSpecs.length) {
			const sprite = new THREE.Sprite(new THREE.SpriteMaterial({
				map: starTexture(), blending: THREE.AdditiveBlending, depthWrite: false, transparent: true}));
			this.rover.add(sprite);
			this.beacons.push(sprite);
		}
		const cameraPos = this.camera.position;
		this.beacons.forEach((sprite, i) => {
			const b = this.beaconSpecs[i];
			// Lit while active, and for a strobe for duration of each period from tofs on.
			const lit = b && b.active && b.pos && b.col &&
			            !(b.period > 0 && (simt + b.tofs) % b.period > b.duration);
			sprite.visible = !!lit;
			if (!lit)
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

	// --- Cameras ---

	placeChaseCamera() {
		const forward = new THREE.Vector3(0, 0, 1).transformDirection(this.rover.matrixWorld);
		const target = this.position.clone().add(new THREE.Vector3(0, 1, 0));
		this.camera.position.copy(target).addScaledVector(forward, -13).add(new THREE.Vector3(0, 5, 0));
		this.controls.target.copy(target);
		this.controls.update();
	}

	setCockpit(on) {
		this.cockpit = on;
		this.controls.enabled = !on;
		if (!on && this.placed)
			this.placeChaseCamera();
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
		});
	}

	updateCamera() {
		if (!this.placed)
			return;
		if (this.cockpit) {
			const c = this.cameraSpec;
			const m = this.rover.matrixWorld;
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
			const target = this.position.clone().add(new THREE.Vector3(0, 1, 0));
			this.camera.up.set(0, 1, 0);
			this.camera.position.add(target.clone().sub(this.controls.target));
			this.controls.target.copy(target);
			this.controls.update();
		}
		for (let i = 0; i < this.meshRoots.length; ++i)
			this.meshRoots[i].visible = (this.visibility[i] & (this.cockpit ? 2 : 1)) !== 0;
		// The beams are seen from outside; from the cockpit, within them, only their light.
		for (const s of this.spots)
			s.cone.visible = s.on && !this.cockpit;
	}

	render(simt) {
		this.updateCamera();
		this.updateBeacons(simt);
		this.renderer.render(this.scene, this.camera);
	}
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

// Regolith grey with a line every TERRAIN_GRID metres, so that motion over the ground shows.
function makeGridTexture() {
	const size = 128, canvas = document.createElement('canvas');
	canvas.width = canvas.height = size;
	const g = canvas.getContext('2d');
	g.fillStyle = '#b8b4ac';
	g.fillRect(0, 0, size, size);
	for (let i = 0; i < 600; ++i) {
		const shade = 150 + Math.floor(Math.random() * 60);
		g.fillStyle = `rgb(${shade},${shade - 3},${shade - 8})`;
		g.fillRect(Math.random() * size, Math.random() * size, 2, 2);
	}
	g.strokeStyle = 'rgba(60, 58, 54, 0.55)';
	g.lineWidth = 2;
	g.strokeRect(0, 0, size, size);
	const t = new THREE.CanvasTexture(canvas);
	t.wrapS = t.wrapT = THREE.RepeatWrapping;
	t.colorSpace = THREE.SRGBColorSpace;
	t.anisotropy = 4;
	return t;
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

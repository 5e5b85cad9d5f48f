// The page around the game: the canvas's shown size, the start overlay, touch as the mouse the
// game reads, files dropped or opened, the links, the last run kept in storage, the level
// editor's files (downloads, storage, share links), full screen and the sound's pause. The game
// itself is web/shell.cpp's, compiled into q47.js; it is called through Module.ccall and answers
// through Module.page.
'use strict';

(function () {
  const WIDTH = 640;                // the game's picture, in canvas pixels
  const HEIGHT = 480;
  const LONG_PRESS_MS = 500;        // a finger held this long without moving is a right click
  const TOUCH_SLOP_PX = 10;         // movement (CSS pixels) that makes a touch a drag
  const CLICK_HOLD_MS = 60;         // a tap's button stays down for a few of the game's frames
  let FRAME_MS = 20;                // one frame of the game: the game's own figure once loaded
  const LAST_RUN_KEY = 'q47.lastRun';  // localStorage: the last run's replay, base64
  const REPLAY_MAGIC = 'Q47RPLAY';
  const PACK_KEY = 'q47.pack.';          // localStorage + a pack's name: the editor's saved text
  const RECOVERY_KEY = 'q47.recovery.';  // + a pack's name: its unsaved work
  const NEW_PACK_NAME = 'levels.q47l';   // what a pack without a file name is saved as
  const CODE_FRAGMENT = '#pack=';        // a link's fragment before a pack's share code
  // The largest files the game takes, and why a larger one is refused, as the desktop says it
  // (PACK_FILE_MAX and PACK_TOO_LARGE in core/level_pack.h, REPLAY_FILE_MAX in
  // core/replay_codec.h). Checked before a file is read, so a huge one never reaches the game's
  // memory, which would keep its size for the rest of the session.
  const PACK_LIMIT = { bytes: 4 << 20, reason: 'too large for a level pack (over 4 MiB)' };
  const REPLAY_LIMIT = { bytes: 64 << 20, reason: 'too large for a replay' };

  const params = new URLSearchParams(location.search);
  const canvas = document.getElementById('canvas');
  const start = document.getElementById('start');
  const messageBox = document.getElementById('message');
  const output = document.getElementById('output');
  const saveButton = document.getElementById('save');
  const fileInput = document.getElementById('file');
  const editButton = document.getElementById('edit');
  const shareButton = document.getElementById('share');
  const linkField = document.getElementById('link');

  // What the page knows of the game.
  const page = {
    booted: false,      // the module is up and the links are handled
    display: false,     // the game has its canvas, input and sound (not a verification page)
    overlay: true,      // the start overlay is up: the game waits
    startAsked: false,  // q47Start came before the module was ready
    firstFrame: false,  // q47Ready was resolved
    editing: false,     // the level editor is open
    editName: NEW_PACK_NAME,  // the name the edited pack is saved and recovered under
    packInUse: null,    // the pack the game plays, { bytes, name }; null: the built-in levels
  };

  let readyDone;
  let bootDone;
  // Resolves once the game has loaded and taken the links: what waits for the game's calls.
  const booted = new Promise((done) => { bootDone = done; });
  // Resolves to true: a test may wait for its value as well as for the promise.
  window.q47Ready = new Promise((done) => { readyDone = done; });
  window.q47FirstFrameMs = undefined;

  // --- Messages ---

  // A file that cannot be used is said as the desktop says it on standard error.
  function message(text) {
    messageBox.textContent += text.endsWith('\n') ? text : `${text}\n`;
    messageBox.hidden = false;
    console.error(text.trimEnd());
  }
  messageBox.addEventListener('click', () => {
    messageBox.textContent = '';
    messageBox.hidden = true;
  });

  // --- The canvas's size: the largest whole scale that fits, a fraction only below 1 ---

  // The scale is whole in the screen's own pixels, not in CSS pixels: a phone with 3 device
  // pixels to the CSS pixel shows each game pixel as 3 x 3 device pixels, where a whole CSS
  // scale that fits might leave it 2.25 and draw uneven lines. The CSS size is then that many
  // device pixels over the ratio.
  function fit() {
    const full = !!document.fullscreenElement;
    document.body.classList.toggle('full', full);
    const stage = canvas.parentElement;
    const ratio = window.devicePixelRatio || 1;
    const room = Math.min(stage.clientWidth / WIDTH, stage.clientHeight / HEIGHT);
    // A verification's picture is shown 1:1, to be compared pixel for pixel.
    let scale = params.has('frame') ? 1 : Math.floor(room * ratio) / ratio;
    if (scale * ratio < 1) scale = room;
    canvas.style.width = `${WIDTH * scale}px`;
    canvas.style.height = `${HEIGHT * scale}px`;
  }
  window.addEventListener('resize', fit);
  // A page dragged to a screen of another density, or zoomed, changes the ratio without
  // always resizing the window.
  function watchRatio() {
    matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`)
      .addEventListener('change', () => { fit(); watchRatio(); }, { once: true });
  }
  watchRatio();
  document.addEventListener('fullscreenchange', fit);
  fit();

  // --- Sound: held while the game waits, and while the tab is hidden ---

  // Without frames the music's stream is not refilled, and the first line's cue must wait for
  // the player: the audio context is suspended whenever no frames run.
  let audioHeld = true;
  function audioContext() {
    return Module.SDL2 && Module.SDL2.audioContext;
  }
  function applyAudio() {
    const context = audioContext();
    if (!context) return;
    const hold = audioHeld || document.hidden;
    if (hold && context.state === 'running') context.suspend().catch(() => {});
    if (!hold && context.state === 'suspended') context.resume().catch(() => {});
  }
  function holdAudio(held) {
    audioHeld = held;
    applyAudio();
    const context = audioContext();
    // The runtime resumes a suspended context at the first key or click on the page, once.
    if (context && !context.q47Watched) {
      context.q47Watched = true;
      context.addEventListener('statechange', applyAudio);
    }
  }
  document.addEventListener('visibilitychange', applyAudio);

  // The node the game's sound leaves through, for a test's analyser.
  window.q47AudioTap = function (node) {
    Module.SDL2.audio.scriptProcessorNode.connect(node);
  };

  // --- The overlay and the game's runs ---

  // The keyboard goes with what is shown: the start button while the overlay is up, the picture
  // (which takes the game's keys) while the game runs. Focus is moved only from the other of
  // the two, or from nowhere: a player on a bar button keeps their place.
  function showOverlay(shown) {
    page.overlay = shown;
    const from = document.activeElement;
    const adrift = !from || from === document.body || from === canvas || from === start;
    start.hidden = !shown;
    canvas.tabIndex = shown ? -1 : 0;
    holdAudio(shown);
    if (adrift && page.display) (shown ? start : canvas).focus({ preventScroll: true });
  }

  // What the overlay's click does; a test calls it without a click.
  window.q47Start = function () {
    if (!page.booted) {
      // Pressed before the game has loaded: it starts once it has, and the button says why
      // nothing happens yet.
      page.startAsked = true;
      start.classList.add('waiting');
      loadGame();
      return;
    }
    if (!page.display) return;
    holdAudio(false);
    Module.ccall('web_start', null, [], []);
  };
  start.addEventListener('click', () => {
    window.q47Start();
    if (page.display) canvas.focus({ preventScroll: true });
  });

  // A player with a pad alone presses the start button with A or Start, let go as a click is
  // (the game reads the pad itself once it runs, so no press is still held when it starts).
  // Browsers tell of a pad only after its first press, so the watch begins then.
  const PAD_STARTS = [0, 9];  // the standard layout's A and Start
  let padHeld = false;
  function watchPads() {
    const pads = navigator.getGamepads ? Array.from(navigator.getGamepads()) : [];
    const held = pads.some((pad) => pad && PAD_STARTS.some((i) => pad.buttons[i]?.pressed));
    if (start.hidden) {
      padHeld = false;
    } else if (padHeld && !held) {
      window.q47Start();
    }
    padHeld = held && !start.hidden;
    requestAnimationFrame(watchPads);
  }
  window.addEventListener('gamepadconnected', () => requestAnimationFrame(watchPads), { once: true });

  // --- Storage: the last run ---

  function toBase64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) {
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    }
    return btoa(text);
  }
  function fromBase64(text) {
    const raw = atob(text);
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; i++) bytes[i] = raw.charCodeAt(i);
    return bytes;
  }
  function lastRun() {
    try {
      return localStorage.getItem(LAST_RUN_KEY);
    } catch (e) {
      return null;
    }
  }
  function keepRun(bytes) {
    try {
      localStorage.setItem(LAST_RUN_KEY, toBase64(bytes));
    } catch (e) {
      message(`q47: cannot keep the last run: ${e.message}`);
    }
    saveButton.disabled = !lastRun();
  }
  saveButton.disabled = !lastRun();
  saveButton.addEventListener('click', (event) => {
    handBack(event);
    const kept = lastRun();
    if (!kept) return;
    download(fromBase64(kept), 'last.q47r', 'application/octet-stream');
  });

  function download(data, name, type) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([data], { type }));
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }

  // --- The level editor's files ---

  // The browser's own "file" of a pack is its text in storage, under the pack's name; Ctrl+S
  // also downloads it, to keep or to share as a file.
  function editSave(text) {
    download(text, page.editName, 'text/plain');
    try {
      localStorage.setItem(PACK_KEY + page.editName, text);
      localStorage.removeItem(RECOVERY_KEY + page.editName);
      return 1;
    } catch (e) {
      message(`q47: ${page.editName}: cannot keep it in the browser: ${e.message}`);
      return 0;
    }
  }
  function editRecovery(text) {
    try {
      localStorage.setItem(RECOVERY_KEY + page.editName, text);
    } catch (e) {
      console.warn(`q47: cannot keep a recovery copy: ${e.message}`);
    }
  }
  function editProof(bytes, level) {
    const base = page.editName.replace(/\.q47l$/, '');
    download(bytes, `${base}.level${String(level).padStart(2, '0')}.q47r`, 'application/octet-stream');
  }
  function editing(on) {
    page.editing = on;
    document.body.classList.toggle('editing', on);
    shareButton.hidden = !on;
    publishButton.hidden = !on;
    editButton.disabled = on;
    if (!on) linkField.hidden = true;
  }
  // The name a pack fetched from url is saved under.
  function packName(url) {
    const last = url.split(/[?#]/)[0].split('/').pop();
    return last ? (last.endsWith('.q47l') ? last : `${last}.q47l`) : NEW_PACK_NAME;
  }
  // After the editor opened a pack: its unsaved work from an earlier visit, if any, is offered.
  function editorOpened(name) {
    page.editName = name;
    let kept = null;
    try {
      kept = localStorage.getItem(RECOVERY_KEY + name);
    } catch (e) { /* no storage: nothing was kept */ }
    if (kept) Module.ccall('web_edit_offer_recovery', null, ['string'], [kept]);
  }
  function editText(bytes, name) {
    if (!callWithBytes('web_edit_text', bytes, ['string'], [name])) return false;
    editorOpened(packName(name));
    return true;
  }
  function editCode(code) {
    if (!Module.ccall('web_edit_code', 'number', ['string'], [code])) return false;
    editorOpened(NEW_PACK_NAME);
    return true;
  }
  // The link that opens the pack being edited in anyone's editor.
  function shareLink() {
    const fragment = Module.ccall('web_edit_fragment', 'string', [], []);
    return fragment ? `${location.origin}${location.pathname}?edit${fragment}` : '';
  }
  // Browsers cut links longer than about 2 MB; a pack whose link would be longer is shared as
  // its file instead, and the player is told so rather than handed a link that breaks.
  const LINK_MAX = 2000000;
  function copyShareLink() {
    const link = shareLink();
    if (!link) return;
    if (link.length > LINK_MAX) {
      message(`q47: the pack is too large for a link (${(link.length / 1e6).toFixed(1)} MB, at most ` +
        `${LINK_MAX / 1e6} MB): save it with Ctrl+S and share the file`);
      return;
    }
    // Shown as well: a page without clipboard permission still lets the player copy it.
    linkField.value = link;
    linkField.hidden = false;
    linkField.select();
    if (navigator.clipboard) navigator.clipboard.writeText(link).catch(() => {});
  }
  shareButton.addEventListener('click', (event) => {
    handBack(event);
    copyShareLink();
  });
  editButton.addEventListener('click', async () => {
    if (!page.booted) {
      loadGame();
      await booted;
    }
    if (!page.display || page.editing) return;
    // The editor takes its keys on the picture.
    canvas.focus({ preventScroll: true });
    if (page.packInUse) {
      editText(page.packInUse.bytes, page.packInUse.name);
    } else {
      Module.ccall('web_edit_levels_in_use', null, [], []);
      editorOpened(NEW_PACK_NAME);
    }
  });
  // A #pack= link pasted into this page's address bar changes only the fragment.
  window.addEventListener('hashchange', () => {
    // Before the game has loaded, its start takes the fragment as a link's.
    if (!page.booted && location.hash.startsWith(CODE_FRAGMENT)) loadGame();
    if (page.booted && page.display && location.hash.startsWith(CODE_FRAGMENT)) {
      editCode(location.hash);
    }
  });

  // --- Calls into the game ---

  // Calls an exported function whose first two arguments are a block of bytes and its size;
  // its answer is a number unless returns says otherwise.
  function callWithBytes(name, bytes, types, args, returns = 'number') {
    const pointer = Module._malloc(Math.max(bytes.length, 1));
    Module.HEAPU8.set(bytes, pointer);
    try {
      return Module.ccall(name, returns, ['number', 'number'].concat(types),
        [pointer, bytes.length].concat(args));
    } finally {
      Module._free(pointer);
    }
  }

  // The file at url, refused past limit: by its announced length before any of it is read,
  // else as soon as the bytes read pass the limit.
  async function fetchBytes(url, limit) {
    let response;
    try {
      response = await fetch(url);
    } catch (e) {
      throw new Error(`q47: ${url}: cannot fetch (${e.message})`);
    }
    if (!response.ok) throw new Error(`q47: ${url}: cannot fetch (HTTP ${response.status})`);
    const tooLarge = new Error(`q47: ${url}: ${limit.reason}`);
    if (Number(response.headers.get('Content-Length')) > limit.bytes) {
      response.body?.cancel();
      throw tooLarge;
    }
    if (!response.body) return new Uint8Array(0);
    const reader = response.body.getReader();
    const chunks = [];
    let size = 0;
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      size += value.length;
      if (size > limit.bytes) {
        reader.cancel();
        throw tooLarge;
      }
      chunks.push(value);
    }
    const bytes = new Uint8Array(size);
    let at = 0;
    for (const chunk of chunks) {
      bytes.set(chunk, at);
      at += chunk.length;
    }
    return bytes;
  }

  // A file dropped on the page or picked with Open: a replay plays, a level pack is played.
  // Its first bytes tell a replay from a pack, and so its limit, before the rest is read.
  async function openFile(file) {
    if (!page.booted) {
      loadGame();
      await booted;
    }
    if (!page.display) return;
    messageBox.textContent = '';
    messageBox.hidden = true;
    let bytes;
    let isReplay;
    try {
      const head = new Uint8Array(await file.slice(0, REPLAY_MAGIC.length).arrayBuffer());
      isReplay = new TextDecoder().decode(head) === REPLAY_MAGIC;
      const limit = isReplay ? REPLAY_LIMIT : PACK_LIMIT;
      if (file.size > limit.bytes) {
        message(`q47: ${file.name}: ${limit.reason}`);
        return;
      }
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      message(`q47: ${file.name}: ${e.message}`);
      return;
    }
    holdAudio(false);
    if (page.editing && !isReplay) {
      editText(bytes, file.name);
      return;
    }
    if (callWithBytes('web_open_file', bytes, ['string'], [file.name]) && !isReplay) {
      page.packInUse = { bytes, name: file.name };
    }
    if (!page.overlay) canvas.focus({ preventScroll: true });
  }
  document.getElementById('open').addEventListener('click', (event) => {
    handBack(event);
    fileInput.click();
  });
  fileInput.addEventListener('change', () => {
    if (fileInput.files.length) openFile(fileInput.files[0]);
    fileInput.value = '';
  });
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    if (event.dataTransfer.files.length) openFile(event.dataTransfer.files[0]);
  });

  // --- Settings ---

  // The player's settings are the game's own text, kept whole under SETTINGS_KEY: the game
  // reads it at start and hands it back each time a setting changes on its settings screen. The
  // Settings button and F2 (which the browser would otherwise keep) open that screen.
  const SETTINGS_KEY = 'q47.settings';
  function saveSettings(text) {
    try {
      localStorage.setItem(SETTINGS_KEY, text);
    } catch (e) {
      console.warn(`q47: the settings could not be kept: ${e.message}`);
    }
  }
  function loadSettings() {
    let text = null;
    try {
      text = localStorage.getItem(SETTINGS_KEY);
    } catch (e) {
      console.warn(`q47: the settings could not be read: ${e.message}`);
    }
    if (text !== null) Module.ccall('web_use_settings', null, ['string'], [text]);
  }
  let settingsAsked = false;  // asked for before the game had loaded: shown once it has
  function openSettings(toggle) {
    if (!page.booted) {
      if (!settingsAsked) window.q47Ready.then(() => settingsAsked && openSettings(false));
      settingsAsked = true;
      window.q47Start();
      return;
    }
    settingsAsked = false;
    if (!page.display || page.editing) return;
    if (Module.ccall('web_settings', 'number', ['number'], [toggle ? 1 : 0])) canvas.focus();
  }
  document.getElementById('settings').addEventListener('click', () => openSettings(false));
  window.addEventListener('keydown', (event) => {
    if (event.code !== 'F2' || page.editing || event.repeat) return;
    event.preventDefault();
    event.stopImmediatePropagation();
    openSettings(true);
  }, true);

  // --- Keys ---

  // A bar button clicked with the mouse hands the keys back to the game (or to the start
  // overlay's Enter), as before it was clicked; one pressed from the keyboard keeps the focus,
  // so Tab goes on from there.
  function handBack(event) {
    if (event.detail > 0) event.currentTarget.blur();
  }

  // Whether the game takes this key: while the picture has focus, or while the game runs (or
  // its editor is open) and nothing else has focus. Anywhere else the key is the page's own:
  // Tab moves on, and Enter or Space presses the focused button.
  let sending = false;  // a key the bar's key buttons send is always the game's
  function gameTakesKeys() {
    if (sending) return true;
    const at = document.activeElement;
    if (at === canvas) return true;
    return !page.overlay && (!at || at === document.body);
  }

  window.addEventListener('keydown', (event) => {
    // The browser keeps its function keys and its shortcuts (reload, address bar, tools): the
    // game never sees them. Ctrl+F is the game's, and a modifier alone may be the start of it.
    const shortcut = (event.ctrlKey || event.metaKey) && event.code !== 'KeyF' &&
      !/^(Control|Meta|Shift|Alt)/.test(event.code);
    // The editor's own: its Ctrl keys (save, undo, copy...) and F1 for its help; the browser
    // must not save the page or open its help instead.
    if (page.editing && (event.code === 'F1' || (shortcut && EDITOR_CTRL.test(event.code)))) {
      event.preventDefault();
      if (event.code === 'KeyC') copyShareLink();
      return;
    }
    if (/^F\d+$/.test(event.code) || shortcut) {
      event.stopPropagation();
      return;
    }
    // Enter or Space on the overlay, with nothing focused, starts the game; the game never
    // sees that press.
    const at = document.activeElement;
    const nowhere = !at || at === document.body;
    if (page.overlay && page.display && nowhere &&
        (event.code === 'Enter' || event.code === 'Space' || event.code === 'NumpadEnter')) {
      event.stopPropagation();
      event.preventDefault();
      start.click();
      return;
    }
    if (!gameTakesKeys() && !(page.overlay && nowhere && event.code !== 'Tab')) {
      event.stopPropagation();
    }
  }, true);
  // Its release goes where its press went: the runtime would otherwise see a key come up that
  // never went down, or a button's Space release would reach the game.
  for (const type of ['keyup', 'keypress']) {
    window.addEventListener(type, (event) => {
      const at = document.activeElement;
      const nowhere = !at || at === document.body;
      if (!gameTakesKeys() && !(page.overlay && nowhere && event.code !== 'Tab')) {
        event.stopPropagation();
      }
    }, true);
  }

  const EDITOR_CTRL = /^(Key[ZYSNDCV]|Delete|Arrow\w+|Page\w+)$/;

  // The bar's key buttons on a touch screen: the key pressed and released on the page, as a
  // keyboard would.
  const KEY_CODES = { Enter: 13, Space: 32, KeyR: 82, KeyM: 77, Escape: 27 };
  const KEY_NAMES = { Enter: 'Enter', Space: ' ', KeyR: 'r', KeyM: 'm', Escape: 'Escape' };
  function sendKey(type, code) {
    const event = new KeyboardEvent(type, { code, key: KEY_NAMES[code], bubbles: true, cancelable: true });
    // The runtime reads the legacy keyCode, which a constructed event cannot be given.
    Object.defineProperty(event, 'keyCode', { get: () => KEY_CODES[code] });
    Object.defineProperty(event, 'which', { get: () => KEY_CODES[code] });
    sending = true;
    try {
      window.dispatchEvent(event);
    } finally {
      sending = false;
    }
  }
  function keyButton(button) {
    if (page.overlay && (button.dataset.key === 'Enter' || button.dataset.key === 'Space')) {
      start.click();
      return;
    }
    sendKey('keydown', button.dataset.key);
    setTimeout(() => sendKey('keyup', button.dataset.key), CLICK_HOLD_MS);
  }
  for (const button of document.querySelectorAll('#bar [data-key]')) {
    // Pressed on the way down, as a key is, and without taking the focus from the picture.
    button.addEventListener('pointerdown', (event) => {
      event.preventDefault();
      keyButton(button);
    });
    // Pressed from a keyboard (a click with no pointer behind it): the same key.
    button.addEventListener('click', (event) => {
      if (event.detail === 0) keyButton(button);
    });
  }

  // --- Touch: the mouse the game reads ---

  // A tap is a left click, a drag holds the left button along the way, a long press with
  // little movement is a right click. The touch never reaches the runtime's own touch handling
  // (stopped on the way down), and the browser makes no mouse events of its own from it.
  let touch = null;  // the finger being followed: id, start, last place, timer, button held
  function mouse(type, x, y, button) {
    canvas.dispatchEvent(new MouseEvent(type, {
      bubbles: true, cancelable: true, view: window, clientX: x, clientY: y,
      button, buttons: type === 'mouseup' ? 0 : (button === 2 ? 2 : 1),
    }));
  }
  function press(button) {
    touch.button = button;
    touch.pressedAt = performance.now();
    mouse('mousemove', touch.x0, touch.y0, 0);
    mouse('mousedown', touch.x0, touch.y0, button);
  }
  function release(t) {
    if (t.button === undefined) return;
    const wait = Math.max(0, CLICK_HOLD_MS - (performance.now() - t.pressedAt));
    setTimeout(() => mouse('mouseup', t.x, t.y, t.button), wait);
  }
  function onCanvas(event) {
    return event.target === canvas;
  }
  window.addEventListener('touchstart', (event) => {
    if (!onCanvas(event)) return;
    event.stopPropagation();
    event.preventDefault();
    if (touch) return;
    const t = event.changedTouches[0];
    touch = { id: t.identifier, x0: t.clientX, y0: t.clientY, x: t.clientX, y: t.clientY };
    touch.timer = setTimeout(() => { if (touch && touch.button === undefined) press(2); },
      LONG_PRESS_MS);
  }, { capture: true, passive: false });
  window.addEventListener('touchmove', (event) => {
    if (!onCanvas(event)) return;
    event.stopPropagation();
    event.preventDefault();
    if (!touch) return;
    for (const t of event.changedTouches) {
      if (t.identifier !== touch.id) continue;
      touch.x = t.clientX;
      touch.y = t.clientY;
      const moved = Math.hypot(touch.x - touch.x0, touch.y - touch.y0);
      if (touch.button === undefined && moved > TOUCH_SLOP_PX) {
        clearTimeout(touch.timer);
        press(0);
        // The press lands on the cell where the finger went down; the pointer follows the
        // finger only from the next frame on, or that first cell would be skipped.
        const dragged = touch;
        dragged.settling = true;
        setTimeout(() => {
          dragged.settling = false;
          if (touch === dragged) mouse('mousemove', dragged.x, dragged.y, dragged.button);
        }, 1.5 * FRAME_MS);
      }
      if (touch.button !== undefined && !touch.settling) {
        mouse('mousemove', touch.x, touch.y, touch.button);
      }
    }
  }, { capture: true, passive: false });
  function touchEnd(event) {
    if (!onCanvas(event)) return;
    event.stopPropagation();
    event.preventDefault();
    if (!touch) return;
    for (const t of event.changedTouches) {
      if (t.identifier !== touch.id) continue;
      clearTimeout(touch.timer);
      if (touch.button === undefined && event.type === 'touchend') press(0);
      release(touch);
      touch = null;
    }
  }
  window.addEventListener('touchend', touchEnd, { capture: true, passive: false });
  window.addEventListener('touchcancel', touchEnd, { capture: true, passive: false });
  canvas.addEventListener('contextmenu', (event) => event.preventDefault());
  // Playing on the picture gives it the keys, whatever had them before.
  canvas.addEventListener('pointerdown', () => {
    if (!page.overlay) canvas.focus({ preventScroll: true });
  });

  // --- What a screen reader hears: the changes the picture shows ---

  // The game's state read a few times a second through its probes; only what changed is said,
  // in a polite live region, so a reader is not interrupted mid-sentence.
  const said = document.getElementById('said');
  const CELL_CHEMICAL = 1;    // core/rules.h's cell flag
  const STATE_PLAYING = 0;    // core/rules.h's game states
  const STATE_TALLY = 1;
  const POLL_MS = 300;
  let heard = null;  // the state last said: level, barriers, state, lost
  function boardSize() {
    let size = 0;
    while (size < 256 && Module._web_cell_flags(size, 0) !== -1) size++;
    return size;
  }
  function edgeReached(size) {
    for (let i = 0; i < size; i++) {
      for (const [x, y] of [[i, 0], [i, size - 1], [0, i], [size - 1, i]]) {
        if (Module._web_cell_flags(x, y) & CELL_CHEMICAL) return true;
      }
    }
    return false;
  }
  function listen() {
    if (!page.booted || !page.display || page.overlay || page.editing) {
      heard = null;
      return;
    }
    const now = { level: Module._web_level_number(), left: Module._web_barriers_left(),
      state: Module._web_game_state(), size: heard?.size ?? 0, lost: false };
    const newLevel = !heard || now.level !== heard.level;
    if (newLevel) now.size = boardSize();
    now.lost = now.state === STATE_PLAYING && now.size > 0 && edgeReached(now.size);
    const barriers = `${now.left} ${now.left === 1 ? 'barrier' : 'barriers'} in hand`;
    let text = '';
    if (now.state === STATE_PLAYING && (newLevel || heard.state !== STATE_PLAYING)) {
      text = `Level ${now.level}: ${barriers}.`;
    } else if (now.state === STATE_TALLY && heard && heard.state !== STATE_TALLY) {
      text = `Level ${now.level} won.`;
    } else if (now.lost && !heard?.lost) {
      text = `Level ${now.level} lost: the chemical reached the edge.`;
    } else if (now.state === STATE_PLAYING && now.left !== heard.left) {
      text = `${barriers}.`;
    }
    if (text) said.textContent = text;
    heard = now;
  }
  setInterval(listen, POLL_MS);

  // --- The hub: publishing from the editor, runs sent and where their scores stand ---

  // A page served by a hub lives under its /play/; the hub's API is then on the same origin.
  // Anywhere else there is no hub to talk to.
  const HUB_KEY = 'q47.hub-key';        // localStorage: this browser's player key on the hub
  const HUB_CONSENT = 'q47.hub-submit';  // 'yes' or 'no': the player's answer, asked once
  const HUB_WAIT_MS = 30000;             // how long a run sent may take to be verified
  const hubRoot = /\/play\/(index\.html)?$/.test(location.pathname)
    ? location.pathname.replace(/play\/(index\.html)?$/, '') : null;
  const publishButton = document.getElementById('publish');
  const hubAsk = document.getElementById('hub-ask');
  const hubScores = document.getElementById('hub-scores');
  const hubName = document.getElementById('hub-name');
  const hubNameLabel = document.getElementById('hub-name-label');
  // waiting: a level won before the question was answered, sent if the answer is yes.
  const hub = { waiting: null };

  function stored(key) {
    try {
      return localStorage.getItem(key);
    } catch (e) {
      return null;
    }
  }
  function store(key, value) {
    try {
      localStorage.setItem(key, value);
    } catch (e) { /* not kept: asked again next time */ }
  }

  // One call to the hub's API; its JSON answer, or an Error with the hub's own sentence.
  async function hubCall(method, path, body, key) {
    if (hubRoot === null) throw new Error('the hub is not reachable from this page');
    const headers = {};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (key) headers.Authorization = `Bearer ${key}`;
    let response;
    try {
      response = await fetch(`${hubRoot}api/${path}`, {
        method, headers, body: body === undefined ? undefined : JSON.stringify(body),
      });
    } catch (e) {
      throw new Error(`the hub is not reachable (${e.message})`);
    }
    const answer = await response.json().catch(() => ({}));
    if (!response.ok && response.status !== 409) {
      throw new Error(answer.error || `the hub answered HTTP ${response.status}`);
    }
    return answer;
  }

  // This browser's key on the hub, made there on first use.
  async function hubKey() {
    const kept = stored(HUB_KEY);
    if (kept && /^[0-9a-f]{64}$/.test(kept)) return kept;
    const name = hubName.value.trim() || 'player';
    const made = await hubCall('POST', 'players', { name });
    store(HUB_KEY, made.key);
    return made.key;
  }

  // The editor's Ctrl+U (or the Publish button) with a proof of each level: the pack is sent,
  // and its address on the hub said in the editor, below the picture and to a screen reader.
  async function editPublish(text, runs) {
    let address = '';
    let error = '';
    try {
      const key = await hubKey();
      let answer = await hubCall('POST', 'packs', { pack: text, runs: runs.map(toBase64) }, key);
      // The hub checks the pack and its proofs as a job: asked after until it ends, its
      // progress said in the output line.
      const giveUp = Date.now() + 180000;
      while (answer.job && (answer.status === 'queued' || answer.status === 'running')) {
        output.textContent = answer.status === 'queued'
          ? 'Publishing: waiting for the hub to check the pack...'
          : 'Publishing: the hub is checking the levels and their runs...';
        if (Date.now() > giveUp) throw new Error('the hub took more than 3 minutes over the pack');
        await new Promise((resolve) => setTimeout(resolve, 500));
        answer = await hubCall('GET', `jobs/${answer.job}`);
      }
      if (!/^[0-9a-f]{64}$/.test(answer.pack || '')) throw new Error(answer.error || 'no pack');
      address = `${location.origin}${hubRoot}packs/${answer.pack}`;
    } catch (e) {
      error = e.message;
    }
    if (page.editing) Module.ccall('web_edit_published', null, ['string', 'string'], [address, error]);
    output.textContent = address ? `Published: ${address}` : `Not published: ${error}`;
    said.textContent = output.textContent;
  }
  publishButton.addEventListener('click', (event) => {
    handBack(event);
    if (page.editing) Module.ccall('web_edit_publish', null, [], []);
  });

  // A level won on a hub's page (the game hands over the run so far, which proves it): sent
  // once the player agreed. The question is asked once, after the first level won, with the
  // name the hub will show; the answer is kept.
  function levelWon(bytes, level) {
    if (hubRoot === null) return;
    const consent = stored(HUB_CONSENT);
    if (consent === 'yes') {
      hubSend(bytes, level);
      return;
    }
    if (consent) return;
    hub.waiting = { bytes, level };
    if (!hubAsk.hidden) return;
    hubName.hidden = hubNameLabel.hidden = Boolean(stored(HUB_KEY));
    hubAsk.hidden = false;
    said.textContent = 'Level won. Send your runs to the hub to see where your score stands? ' +
      'The question is below the picture.';
  }
  function hubAnswer(yes) {
    store(HUB_CONSENT, yes ? 'yes' : 'no');
    hubAsk.hidden = true;
    if (!page.overlay) canvas.focus({ preventScroll: true });
    const waiting = hub.waiting;
    hub.waiting = null;
    if (yes && waiting) hubSend(waiting.bytes, waiting.level);
  }
  document.getElementById('hub-yes').addEventListener('click', () => hubAnswer(true));
  document.getElementById('hub-no').addEventListener('click', () => hubAnswer(false));

  // The SHA-256 of bytes in hex, as the hub names packs, worked out by the game's own code:
  // browsers offer theirs (crypto.subtle) only to https pages and localhost.
  function sha256Hex(bytes) {
    return callWithBytes('web_sha256', bytes, [], [], 'string');
  }

  // A histogram of players by best score: a bar per score, the player's in its own colour and
  // marked, the level's bound as a line; the same in words beside it.
  function histogramFigure(level, histogram) {
    const svgNs = 'http://www.w3.org/2000/svg';
    const figure = document.createElement('figure');
    const width = 200;
    const height = 60;
    const svg = document.createElementNS(svgNs, 'svg');
    svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    svg.setAttribute('width', width);
    svg.setAttribute('height', height);
    svg.setAttribute('aria-hidden', 'true');
    const scores = histogram.counts.map(([score]) => score);
    const top = Math.max(1, histogram.bound ?? 0, ...scores);
    const most = Math.max(1, ...histogram.counts.map(([, players]) => players));
    const xOf = (score) => Math.round(score / top * (width - 12)) + 1;
    for (const [score, players] of histogram.counts) {
      const bar = document.createElementNS(svgNs, 'rect');
      const barHeight = Math.max(2, Math.round(players / most * (height - 10)));
      bar.setAttribute('x', xOf(score));
      bar.setAttribute('y', height - barHeight);
      bar.setAttribute('width', 6);
      bar.setAttribute('height', barHeight);
      bar.setAttribute('class', histogram.mine === score ? 'mine' : 'others');
      svg.append(bar);
    }
    if (histogram.mine !== null) {
      const mark = document.createElementNS(svgNs, 'path');
      const x = xOf(histogram.mine) + 3;
      mark.setAttribute('d', `M${x - 4} 0 L${x + 4} 0 L${x} 7 Z`);
      mark.setAttribute('class', 'mine');
      svg.append(mark);
    }
    if (histogram.bound !== null) {
      const line = document.createElementNS(svgNs, 'line');
      const x = xOf(histogram.bound) + 8;  // just right of the bound's bar, not over it
      line.setAttribute('x1', x);
      line.setAttribute('x2', x);
      line.setAttribute('y1', 0);
      line.setAttribute('y2', height);
      line.setAttribute('class', 'bound');
      svg.append(line);
    }
    const words = `level ${level}: your score ${histogram.mine ?? 'none'}, best possible ` +
      `${histogram.bound}${histogram.proven_best ? ' (proven best)' : ''}, ` +
      `${histogram.players} ${histogram.players === 1 ? 'player' : 'players'}`;
    const caption = document.createElement('figcaption');
    caption.textContent = words;
    figure.append(svg, caption);
    return { figure, words };
  }

  // The run so far, just after level was won, with the player's yes: the hub re-runs it, and
  // the level is shown with where its score stands among every player's best.
  async function hubSend(bytes, level) {
    try {
      const key = await hubKey();
      const pack = page.packInUse ? sha256Hex(page.packInUse.bytes) : 'builtin';
      const sent = await hubCall('POST', 'runs', { pack, replay: toBase64(bytes) }, key);
      const until = performance.now() + HUB_WAIT_MS;
      let run = sent;
      while (run.status === 'queued' && performance.now() < until) {
        await new Promise((done) => setTimeout(done, 300));
        run = await hubCall('GET', `runs/${encodeURIComponent(sent.run)}`, undefined, key);
      }
      if (run.status !== 'verified') {
        throw new Error(run.status === 'refused' ? `the hub refused the run: ${run.reason}`
          : 'the hub has not verified the run yet');
      }
      if (!run.levels.some((won) => won.level === level)) {
        throw new Error(`the hub did not find level ${level} won in the run`);
      }
      const histogram = await hubCall('GET', `levels/${pack}/${level}/histogram`, undefined, key);
      const { figure, words } = histogramFigure(level, histogram);
      hubScores.replaceChildren(figure);
      hubScores.hidden = false;
      said.textContent = `${words}.`;
    } catch (e) {
      message(`q47: the hub: ${e.message}`);
    }
  }

  // --- Full screen ---

  function toggleFullScreen() {
    const root = document.documentElement;
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else if (root.requestFullscreen) {
      root.requestFullscreen().catch(() => {});
    } else if (root.webkitRequestFullscreen) {
      root.webkitRequestFullscreen();
    }
  }

  // --- The module ---

  function firstFrame() {
    if (page.firstFrame) return;
    page.firstFrame = true;
    window.q47FirstFrameMs = performance.now();
    readyDone(true);
  }

  // The picture of one frame as the game drew it: rows of 0x00BBGGRR, which are RGBA bytes
  // with no alpha.
  function picture(pixels, width, height) {
    const image = new ImageData(width, height);
    image.data.set(pixels);
    for (let i = 3; i < image.data.length; i += 4) image.data[i] = 255;
    canvas.getContext('2d').putImageData(image, 0, 0);
  }

  // The links, in the order the desktop's options take effect: a pack, then a level, then a
  // replay to check or to watch; without one of those the intro waits behind the overlay.
  async function boot() {
    const name = (key) => params.get(key);
    // The start-up is cut into tasks of its own (the runtime's, the devices', the first frame's),
    // so a slow phone answers a tap or a key between them rather than after all of them.
    const nextTask = () => new Promise((done) => setTimeout(done, 0));
    // A link option given twice is a mistake in the link, as on the command line: which one
    // was meant cannot be known, so neither is taken.
    for (const key of new Set(params.keys())) {
      if (params.getAll(key).length < 2) continue;
      message(`q47: link option '${key}' given twice`);
      params.delete(key);
    }
    try {
      if (params.has('verify')) {
        showOverlay(false);
        if (params.has('levels')) {
          const pack = await fetchBytes(name('levels'), PACK_LIMIT);
          if (!callWithBytes('web_use_pack', pack, ['string'], [name('levels')])) return;
        }
        const replay = await fetchBytes(name('verify'), REPLAY_LIMIT);
        const frame = Number.parseInt(name('frame') || '0', 10) || 0;
        callWithBytes('web_verify', replay, ['string', 'number', 'number', 'string'],
          [name('verify'), params.has('draw') ? 1 : 0, frame, name('palette') || '']);
        return;
      }
      await nextTask();
      const opened = Module.ccall('web_open_display', 'number', [], []);
      if (!opened) return;
      await nextTask();
      FRAME_MS = Module.ccall('web_frame_ms', 'number', [], []);
      page.display = true;
      holdAudio(true);
      // The kept settings, then a picture setting of the link's, which wins for this visit:
      // both before any session (the editor's too) is made.
      loadSettings();
      if (params.has('palette')) {
        Module.ccall('web_set_palette', 'number', ['string'], [name('palette')]);
      }
      // The editor's links: a pack's code in the fragment, ?edit&levels=URL, ?edit alone. A
      // pack that cannot be edited is said, and the game starts as without the link.
      if (location.hash.startsWith(CODE_FRAGMENT)) {
        if (editCode(location.hash)) return;
      } else if (params.has('edit') && params.has('levels')) {
        try {
          if (editText(await fetchBytes(name('levels'), PACK_LIMIT), name('levels'))) return;
        } catch (e) {
          message(e.message);
        }
      } else if (params.has('edit')) {
        Module.ccall('web_edit_new', null, [], []);
        editorOpened(NEW_PACK_NAME);
        return;
      }
      if (params.has('levels') && !params.has('edit')) {
        try {
          const pack = await fetchBytes(name('levels'), PACK_LIMIT);
          if (callWithBytes('web_use_pack', pack, ['string'], [name('levels')])) {
            page.packInUse = { bytes: pack, name: name('levels') };
          }
        } catch (e) {
          message(e.message);
        }
      }
      if (params.has('level')) Module.ccall('web_set_level', 'number', ['string'], [name('level')]);
      if (params.has('play')) {
        try {
          const replay = await fetchBytes(name('play'), REPLAY_LIMIT);
          if (callWithBytes('web_watch', replay, ['string'], [name('play')])) return;
        } catch (e) {
          message(e.message);
        }
      }
      Module.ccall('web_ready', null, [], []);
    } catch (e) {
      message(e.message);
    } finally {
      page.booted = true;
      // A page that shows nothing to wait for (a verification, a failed start) is ready now.
      firstFrame();
      bootDone();
      start.classList.remove('waiting');
      if (page.startAsked && page.overlay && !page.editing) window.q47Start();
    }
  }

  window.addEventListener('pagehide', () => {
    if (page.display) Module.ccall('web_leave', null, [], []);
  });

  // --- The offline copy, and a new version of it ---

  // A new build's worker installs beside the running one and waits: the page says so, and its
  // Reload button lets the new worker take over and loads the page it serves. Only a page an
  // older worker already controls is told; on a first visit the one installed is this version.
  const update = document.getElementById('update');
  const reloadButton = document.getElementById('reload');
  let waiting = null;
  function offerUpdate(worker, registration) {
    if (!worker || !registration.active || !navigator.serviceWorker.controller) return;
    waiting = worker;
    update.hidden = false;
  }
  function watchUpdates(registration) {
    offerUpdate(registration.waiting, registration);
    registration.addEventListener('updatefound', () => {
      const worker = registration.installing;
      worker?.addEventListener('statechange', () => {
        if (worker.state === 'installed') offerUpdate(worker, registration);
      });
    });
  }
  reloadButton.addEventListener('click', () => {
    if (!waiting) return;
    let reloaded = false;
    navigator.serviceWorker.addEventListener('controllerchange', () => {
      if (reloaded) return;
      reloaded = true;
      location.reload();
    });
    waiting.postMessage('take-over');
  });
  let registering = Promise.resolve(null);
  if ('serviceWorker' in navigator && location.protocol !== 'file:') {
    registering = navigator.serviceWorker.register('sw.js');
    registering.then(watchUpdates).catch((e) => console.warn(`q47: offline copy: ${e.message}`));
  }

  window.Module = {
    canvas,
    print: (text) => console.log(text),
    printErr: (text) => console.error(text),
    postRun: [boot],
    page: {
      message,
      output(line) {
        output.textContent = line;
        console.log(line);
      },
      keepRun,
      levelWon,
      picture,
      firstFrame,
      running: (on) => showOverlay(!on),
      toggleFullScreen,
      editSave,
      editRecovery,
      editProof,
      editPublish,
      editing,
      saveSettings,
    },
  };

  // --- Loading the game ---

  // The game (q47.js, which fetches q47.wasm and q47.data: 3 MB) takes a phone's main thread
  // for a second or more to compile and start, and the start screen needs none of it. It is
  // loaded at once when the link asks for something, else at the player's first sign: a pointer
  // or a finger on the page, a key, the focus, a file dragged in. The service worker of a first
  // visit fetches the same files in the background meanwhile, so they are usually here by then.
  const SIGNS = ['pointermove', 'pointerdown', 'touchstart', 'keydown', 'focusin', 'dragenter',
    'wheel'];
  // On a first visit the worker is filling its cache with the same files: the game waits for
  // it to take over and is served from there, rather than its 3 MB coming twice over a phone's
  // network at once. A worker that fails goes on at once; one that stalls, after a while. A
  // new version's worker never takes over a page by itself: only the first one is waited for.
  const WORKER_WAIT_MS = 30000;
  async function workerSettled() {
    const registration = await registering.catch(() => null);
    const worker = registration?.installing || registration?.waiting;
    if (!worker || registration.active || navigator.serviceWorker.controller) return;
    await new Promise((done) => {
      navigator.serviceWorker.addEventListener('controllerchange', done, { once: true });
      worker.addEventListener('statechange', () => {
        if (worker.state === 'redundant') done();
      });
      setTimeout(done, WORKER_WAIT_MS);
    });
  }
  let loading = false;
  async function loadGame() {
    if (loading) return;
    loading = true;
    for (const type of SIGNS) window.removeEventListener(type, loadGame, true);
    await workerSettled();
    const script = document.createElement('script');
    script.src = 'q47.js';
    script.onerror = () => {
      loading = false;
      start.classList.remove('waiting');
      message('q47: the game could not be loaded (q47.js); reload the page to try again');
    };
    document.body.appendChild(script);
  }
  // What a test calls for a player's first sign.
  window.q47Load = loadGame;
  if (location.search.length > 1 || location.hash.startsWith(CODE_FRAGMENT)) {
    loadGame();
  } else {
    for (const type of SIGNS) {
      window.addEventListener(type, loadGame, { capture: true, passive: true });
    }
  }
}());

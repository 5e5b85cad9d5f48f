// The hub's page: the player kept in this browser, the lists of packs, and a pack's levels with
// their pictures and histograms. Every text a player wrote goes in as text, never as markup.
'use strict';

// The API's answer as JSON; a refusal throws with its sentence.
async function api(method, path, body) {
  const headers = {};
  const key = q47Hub.key();
  if (key) headers.Authorization = 'Bearer ' + key;
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const response = await fetch(path, {
    method, headers, body: body === undefined ? undefined : JSON.stringify(body),
  });
  if (response.status === 204) return null;
  const answer = await response.json();
  if (!response.ok) throw new Error(answer.error || response.statusText);
  return answer;
}

function element(tag, text, attributes) {
  const made = document.createElement(tag);
  if (text !== undefined && text !== null) made.textContent = String(text);
  for (const [name, value] of Object.entries(attributes || {})) made.setAttribute(name, value);
  return made;
}

// --- The player ---

async function showPlayer() {
  const line = document.getElementById('player-line');
  if (!q47Hub.key()) return;
  try {
    const me = await api('GET', 'api/players/me');
    line.replaceChildren('Playing as ', element('bdi', me.name),
        ' (player ' + me.player + '). Your key stays in this browser.');
    document.getElementById('player-submit').textContent = 'Rename';
  } catch (error) {
    line.textContent = 'The key kept here is not known to this hub: ' + error.message;
  }
}

document.getElementById('player-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const name = document.getElementById('player-name').value;
  const status = document.getElementById('player-status');
  try {
    if (q47Hub.key()) {
      await api('PUT', 'api/players/me', {name});
    } else {
      const made = await api('POST', 'api/players', {name});
      if (!q47Hub.keep(made.key)) throw new Error('this browser would not keep the key');
    }
    status.textContent = 'Done.';
    showPlayer();
  } catch (error) {
    status.textContent = error.message;
  }
});

// --- The lists ---

async function showList(sort) {
  for (const button of document.querySelectorAll('nav button')) {
    button.setAttribute('aria-pressed', String(button.dataset.sort === sort));
  }
  const list = document.getElementById('pack-list');
  const status = document.getElementById('list-status');
  list.replaceChildren();
  status.textContent = 'Loading...';
  try {
    const answer = await api('GET', 'api/packs?limit=50&sort=' + sort);
    status.textContent = answer.packs.length ? '' : 'No packs here yet.';
    for (const pack of answer.packs) {
      const item = element('li');
      const link = element('a', pack.title, {href: '#pack=' + pack.pack, dir: 'auto'});
      const rating = pack.rating === null ? 'not rated' : pack.rating.toFixed(1) + ' stars';
      const line = element('span', ' by ');
      line.append(element('bdi', pack.author_name), ': ' + pack.levels + ' levels, players: ' +
          pack.plays + ', ' + rating);
      item.append(link, line);
      list.append(item);
    }
  } catch (error) {
    status.textContent = error.message;
  }
}

for (const button of document.querySelectorAll('nav button')) {
  button.addEventListener('click', () => showList(button.dataset.sort));
}

// --- A pack ---

const CELL_COLOURS = {'.': '#1c1c1c', W: '#8a8a8a', D: '#5a5a6a', I: '#3cf03c', N: '#3c78ff',
                      T: '#ffd23f'};

// The maps of a pack's text, in order: each a list of rows of letters.
function mapsOf(text) {
  const maps = [];
  let rows = null;
  for (const raw of text.split('\n')) {
    const line = raw.trim();
    if (rows) {
      if (line === 'end') {
        maps.push(rows);
        rows = null;
      } else if (line && !line.startsWith('#')) {
        rows.push(line.toUpperCase());
      }
    } else if (line === 'map') {
      rows = [];
    }
  }
  return maps;
}

function drawMap(rows) {
  const height = rows.length;
  const width = Math.max(...rows.map((row) => row.length), 1);
  const cell = Math.max(2, Math.floor(160 / Math.max(width, height)));
  const canvas = element('canvas', null, {width: width * cell, height: height * cell,
                                           role: 'img'});
  canvas.setAttribute('aria-label', 'The map, ' + width + ' by ' + height + ' cells');
  const draw = canvas.getContext('2d');
  rows.forEach((row, y) => {
    for (let x = 0; x < width; ++x) {
      draw.fillStyle = CELL_COLOURS[row[x]] || CELL_COLOURS['.'];
      draw.fillRect(x * cell, y * cell, cell, cell);
    }
  });
  return canvas;
}

async function showPack(id) {
  const section = document.getElementById('pack');
  const levels = document.getElementById('pack-levels');
  section.hidden = false;
  levels.replaceChildren();
  try {
    const pack = await api('GET', 'api/packs/' + id);
    // What players wrote runs left to right or right to left on its own, never into the
    // page's words around it.
    const title = document.getElementById('pack-title');
    title.textContent = pack.title;
    title.dir = 'auto';
    document.getElementById('pack-line').replaceChildren(
        'By ', element('bdi', pack.author_name || 'the game'),
        (pack.withdrawn ? ' (withdrawn by its author)' : '') + '. ', element('bdi', pack.first_line));
    const file = 'api/packs/' + id + '/file';
    document.getElementById('pack-file').href = file;
    document.getElementById('pack-play').href = 'play/?levels=/' + file;
    const text = await (await fetch(file)).text();
    const maps = mapsOf(text);
    for (const level of pack.levels) {
      const box = element('div', null, {class: 'level'});
      const words = element('div');
      words.append(element('h3', 'Level ' + level.level),
                   element('p', 'The chemical reaches an edge at frame ' + level.edge_frame +
                       '; the smallest enclosure takes ' + level.enclosure + ' walls.'));
      if (maps[level.level - 1]) box.append(drawMap(maps[level.level - 1]));
      box.append(words);
      const histogram = await api('GET', 'api/levels/' + id + '/' + level.level + '/histogram');
      box.append(q47Hub.figure(level.level, histogram).figure);
      // A level this player won (the hub verified a score of theirs) can be rated here too.
      if (histogram.mine !== null && q47Hub.key()) {
        box.append(q47Hub.rating(level.level, (stars) => api('POST', 'api/levels/' + id + '/' +
            level.level + '/rating', {stars})).row);
      }
      levels.append(box);
    }
    section.scrollIntoView();
  } catch (error) {
    levels.append(element('p', error.message));
  }
}

function route() {
  const match = /^#pack=([0-9a-f]{64}|builtin)$/.exec(location.hash);
  if (match) {
    showPack(match[1]);
  } else {
    document.getElementById('pack').hidden = true;
  }
}

window.addEventListener('hashchange', route);
showPlayer();
showList('newest');
route();

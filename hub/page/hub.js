// The hub's page: the player kept in this browser, the lists of packs, and a pack's levels with
// their pictures and histograms. Every text a player wrote goes in as text, never as markup.
'use strict';

const KEY_STORE = 'q47-hub-key';

// The API's answer as JSON; a refusal throws with its sentence.
async function api(method, path, body) {
  const headers = {};
  const key = localStorage.getItem(KEY_STORE);
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
  if (!localStorage.getItem(KEY_STORE)) return;
  try {
    const me = await api('GET', 'api/players/me');
    line.textContent = 'Playing as ' + me.name + ' (player ' + me.player + '). ' +
        'Your key stays in this browser.';
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
    if (localStorage.getItem(KEY_STORE)) {
      await api('PUT', 'api/players/me', {name});
    } else {
      const made = await api('POST', 'api/players', {name});
      localStorage.setItem(KEY_STORE, made.key);
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
      const link = element('a', pack.title, {href: '#pack=' + pack.pack});
      const rating = pack.rating === null ? 'not rated' : pack.rating.toFixed(1) + ' stars';
      item.append(link, element('span', ' by ' + pack.author_name + ': ' + pack.levels +
          ' levels, players: ' + pack.plays + ', ' + rating));
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

// Players by their best score as bars, the player's own bar marked and the bound as a red line;
// a table says the same in words.
function drawHistogram(histogram) {
  const figure = element('figure');
  const svgNs = 'http://www.w3.org/2000/svg';
  const svg = document.createElementNS(svgNs, 'svg');
  const width = 240;
  const height = 100;
  svg.setAttribute('width', width);
  svg.setAttribute('height', height + 14);
  svg.setAttribute('class', 'histogram');
  svg.setAttribute('aria-hidden', 'true');
  const top = Math.max(histogram.bound || 0, ...histogram.counts.map((row) => row[0]), 1);
  const most = Math.max(...histogram.counts.map((row) => row[1]), 1);
  for (const [score, players] of histogram.counts) {
    const bar = document.createElementNS(svgNs, 'rect');
    const x = Math.round(score / top * (width - 6));
    const barHeight = Math.max(2, Math.round(players / most * height));
    bar.setAttribute('x', x);
    bar.setAttribute('y', height - barHeight);
    bar.setAttribute('width', 5);
    bar.setAttribute('height', barHeight);
    if (histogram.mine === score) bar.setAttribute('class', 'mine');
    svg.append(bar);
  }
  if (histogram.bound !== null) {
    const line = document.createElementNS(svgNs, 'line');
    const x = Math.round(histogram.bound / top * (width - 6)) + 2;
    line.setAttribute('x1', x);
    line.setAttribute('x2', x);
    line.setAttribute('y1', 0);
    line.setAttribute('y2', height);
    svg.append(line);
  }
  const table = element('table');
  table.append(element('caption', 'Players: ' + histogram.players + '; best possible ' +
      histogram.bound + (histogram.proven_best ? ' (reached)' : '') +
      (histogram.mine === null ? '' : '; your best ' + histogram.mine)));
  const head = element('tr');
  head.append(element('th', 'score', {scope: 'col'}), element('th', 'players', {scope: 'col'}));
  table.append(head);
  for (const [score, players] of histogram.counts) {
    const row = element('tr');
    row.append(element('td', score + (histogram.mine === score ? ' (you)' : '')),
               element('td', players));
    table.append(row);
  }
  figure.append(svg, table);
  return figure;
}

async function showPack(id) {
  const section = document.getElementById('pack');
  const levels = document.getElementById('pack-levels');
  section.hidden = false;
  levels.replaceChildren();
  try {
    const pack = await api('GET', 'api/packs/' + id);
    document.getElementById('pack-title').textContent = pack.title;
    document.getElementById('pack-line').textContent = 'By ' + (pack.author_name || 'the game') +
        (pack.withdrawn ? ' (withdrawn by its author)' : '') + '. ' + pack.first_line;
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
      box.append(drawHistogram(histogram));
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

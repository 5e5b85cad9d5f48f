// What the hub's page and the game's page (under /play/) share, so one browser is one player and
// a histogram reads the same on both: the player's key as this browser keeps it, the drawing of
// where a level's scores stand, and the rating of a level won. Loaded by both pages from the
// hub's root.
'use strict';

window.q47Hub = (function () {
  const KEY = 'q47.hub-key';       // localStorage: this browser's player key on the hub
  const OLD_KEY = 'q47-hub-key';   // where the hub's page kept it before the two pages shared one

  // The key kept in this browser, or null. A key the hub's page kept under its old name becomes
  // the one key when the browser holds no other, so nobody loses the runs sent with it; when
  // both are kept the old one stays where it is, untouched, rather than replace another player.
  function key() {
    try {
      const kept = localStorage.getItem(KEY);
      if (kept) return kept;
      const old = localStorage.getItem(OLD_KEY);
      if (!old) return null;
      localStorage.setItem(KEY, old);
      localStorage.removeItem(OLD_KEY);
      return old;
    } catch (e) {
      return null;
    }
  }
  // Keeps a key the hub made; false when the browser refused to keep it.
  function keep(made) {
    try {
      localStorage.setItem(KEY, made);
      return true;
    } catch (e) {
      return false;
    }
  }

  // A histogram of players by best score (the hub's answer for one level): a bar per score, the
  // player's in its own colour and marked above, the level's best possible score as a line just
  // right of its bar; the same in words as the caption.
  function figure(level, histogram) {
    const svgNs = 'http://www.w3.org/2000/svg';
    const made = document.createElement('figure');
    made.className = 'q47-histogram';
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
      // The bar is 6 wide and the line 2: at 8 the line starts a pixel past the bar's edge.
      const line = document.createElementNS(svgNs, 'line');
      const x = xOf(histogram.bound) + 8;
      line.setAttribute('x1', x);
      line.setAttribute('x2', x);
      line.setAttribute('y1', 0);
      line.setAttribute('y2', height);
      line.setAttribute('class', 'bound');
      svg.append(line);
    }
    const words = `level ${level}: your score ${histogram.mine ?? 'none'}, best possible ` +
      `${histogram.bound ?? 'unknown'}${histogram.proven_best ? ' (proven best)' : ''}, ` +
      `${histogram.players} ${histogram.players === 1 ? 'player' : 'players'}`;
    const caption = document.createElement('figcaption');
    caption.textContent = words;
    made.append(svg, caption);
    return { figure: made, words };
  }

  // Stars for a level the player won, as a row of five buttons (a finger, a pointer, or Tab and
  // Enter): send(stars) gives them to the hub and throws its refusal. The row's status says what
  // came of it, and so does told(sentence), for a page that speaks it elsewhere too.
  const STARS = 5;
  function rating(level, send, told) {
    const row = document.createElement('div');
    row.className = 'rating';
    row.setAttribute('role', 'group');
    row.setAttribute('aria-label', `Rate level ${level}`);
    const label = document.createElement('span');
    label.textContent = `Rate level ${level}:`;
    const status = document.createElement('span');
    status.setAttribute('role', 'status');
    const buttons = [];
    async function rate(stars) {
      try {
        await send(stars);
        status.textContent = ` rated ${stars} of ${STARS} stars.`;
        told?.(`Level ${level} rated ${stars} of ${STARS} stars.`);
        buttons.forEach((b, i) => b.setAttribute('aria-pressed', String(i + 1 === stars)));
      } catch (e) {
        status.textContent = ` not rated: ${e.message}`;
        told?.(`Level ${level} not rated: ${e.message}`);
      }
    }
    for (let stars = 1; stars <= STARS; stars++) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = `${stars}\u2605`;
      button.setAttribute('aria-label', `${stars} ${stars === 1 ? 'star' : 'stars'}`);
      button.setAttribute('aria-pressed', 'false');
      button.addEventListener('click', () => rate(stars));
      buttons.push(button);
    }
    row.append(label, ...buttons, status);
    return { row, buttons, rate };
  }

  return { KEY, key, keep, figure, rating, STARS };
}());

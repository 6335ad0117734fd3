// The report page's behaviour: reads the JSON block once, then draws the
// summary, the gene table (only the rows in view exist in the document, so
// 500000 genes scroll as smoothly as 50), the histograms, the plot
// (a volcano on a canvas, one pixel block per gene, drawing the genes the
// table's filters keep), the selected gene's study ranks and its view, and
// the legend and methods text the data bring.
// Every string from the data goes into the page as text (textContent),
// never as markup. When drawn, the page sets window.korvelanReport (the
// data, the table's state, select(i), points()) and its readyAt time, which
// the browser tests and the benchmark read.
(function () {
  'use strict';

  const P_NAMES = ['Rmean_right', 'Rmean_left', 'Rwmean_right', 'Rwmean_left', 'Q_right', 'Q_left'];
  // Okabe-Ito: distinguishable under the common colour-vision deficiencies.
  const OKABE_ITO = ['#0072b2', '#e69f00', '#009e73', '#cc79a7', '#56b4e9', '#d55e00', '#000000',
    '#f0e442'];
  const ROW = 24;         // px, as --row in the style
  const OVERSCAN = 8;     // rows drawn beyond each edge of the view
  const PRINT_ROWS = 200;
  const BINS = 20;

  const $ = (id) => document.getElementById(id);
  function el(tag, attributes, text) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) node.setAttribute(name, value);
    if (text !== undefined) node.textContent = text;
    return node;
  }
  const SVG_NS = 'http://www.w3.org/2000/svg';
  function svg(tag, attributes, text) {
    const node = document.createElementNS(SVG_NS, tag);
    for (const [name, value] of Object.entries(attributes || {})) node.setAttribute(name, value);
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // ---- data ---------------------------------------------------------------

  function numbers(list) {
    const out = new Float64Array(list.length);
    for (let i = 0; i < list.length; ++i) out[i] = list[i] === null ? NaN : list[i];
    return out;
  }

  // The column forms of the data (the writer's page_columns.h): a plain
  // array; {w, s} whole numbers packed w base-64 characters each, value + 1,
  // 0 for null; {v, i} distinct values and each entry's index; {half}
  // doubled values; {num} numerators over the column "pden".
  const DIGIT = new Int8Array(128);
  '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_'.split('')
    .forEach((c, k) => { DIGIT[c.charCodeAt(0)] = k; });
  function unpack(packed) {
    const w = packed.w, s = packed.s, out = new Float64Array(s.length / w);
    for (let k = 0, at = 0; k < out.length; ++k) {
      let v = 0;
      for (let j = 0; j < w; ++j) v = v * 64 + DIGIT[s.charCodeAt(at++)];
      out[k] = v === 0 ? NaN : v - 1;
    }
    return out;
  }
  function column(list, denominators) {
    if (Array.isArray(list)) return numbers(list);
    if (list.w !== undefined) return unpack(list);
    if (list.half !== undefined) return unpack(list.half).map((v) => v / 2);
    if (list.num !== undefined) return unpack(list.num).map((v, k) => v / denominators[k]);
    const values = numbers(list.v), index = unpack(list.i);
    const out = new Float64Array(index.length);
    for (let k = 0; k < index.length; ++k) out[k] = values[index[k]];
    return out;
  }

  function load() {
    const raw = JSON.parse($('korvelan-data').textContent);
    const count = raw.gene.length;
    const pden = raw.pden ? column(raw.pden) : null;
    return {
      title: raw.title, facts: raw.facts, studies: raw.studies, sizes: raw.sizes,
      legend: raw.legend || [], methods: raw.methods || '', sort: raw.sort === undefined ? 1 : raw.sort,
      count, gene: raw.gene, klass: Int32Array.from(column(raw.klass)),
      n: Int32Array.from(column(raw.n)), ranks: column(raw.ranks), rmean: column(raw.rmean),
      rwmean: column(raw.rwmean), q: column(raw.q), p: raw.p.map((c) => column(c, pden)),
      qv: raw.qv.map((c) => column(c)),
      excluded: raw.excluded ? Uint8Array.from(column(raw.excluded)) : new Uint8Array(count),
      dir: raw.dir ? Int8Array.from(column(raw.dir)) : null,
      nup: raw.nup ? column(raw.nup) : null, ndown: raw.ndown ? column(raw.ndown) : null,
      lfc: raw.lfc ? column(raw.lfc) : null, lfcmean: raw.lfcmean ? column(raw.lfcmean) : null,
    };
  }

  // Short for the eye; the export and the cell's tooltip carry the exact value.
  function show(value) {
    if (Number.isNaN(value)) return 'NA';
    if (Number.isInteger(value) || !Number.isFinite(value)) return String(value);
    const size = Math.abs(value);
    if (size >= 1000) return value.toFixed(1);
    if (size >= 1e-4) return String(Number(value.toPrecision(4)));
    return value.toExponential(2);
  }
  const exact = (value) => (Number.isNaN(value) ? 'NA' : String(value));

  function columns(D) {
    const list = [
      { label: 'gene', text: true, get: (i) => D.gene[i] },
      { label: 'class', get: (i) => D.klass[i] },
      { label: 'studies', get: (i) => D.n[i] },
    ];
    const S = D.studies.length;
    D.studies.forEach((name, s) => list.push({ label: name, study: true, get: (i) => D.ranks[i * S + s] }));
    list.push({ label: 'R_mean', get: (i) => D.rmean[i] });
    list.push({ label: 'R_wmean', get: (i) => D.rwmean[i] });
    list.push({ label: 'Q', get: (i) => D.q[i] });
    P_NAMES.forEach((name, c) => list.push({ label: 'p_' + name, get: (i) => D.p[c][i] }));
    P_NAMES.forEach((name, c) => list.push({ label: 'q_' + name, get: (i) => D.qv[c][i] }));
    if (D.dir) {
      const names = { 1: 'up', '-1': 'down', 0: 'NA' };
      list.push({ label: 'direction', text: true, get: (i) => names[D.dir[i]] });
      list.push({ label: 'n_up', get: (i) => D.nup[i] });
      list.push({ label: 'n_down', get: (i) => D.ndown[i] });
    }
    if (D.lfc) {
      D.studies.forEach((name, s) => list.push({ label: 'logFC_' + name, get: (i) => D.lfc[i * S + s] }));
      list.push({ label: 'logFC_mean', get: (i) => D.lfcmean[i] });
    }
    return list;
  }

  // On screen the gene, its direction and the sort column with its q come
  // first, so that they are in view on a narrow screen; the export keeps
  // the order of results.tsv.
  function displayOrder(D, cols) {
    const first = ['gene', 'direction', 'logFC_mean', 'p_' + P_NAMES[D.sort], 'q_' + P_NAMES[D.sort]];
    const lead = first.map((label) => cols.find((col) => col.label === label)).filter(Boolean);
    return lead.concat(cols.filter((col) => !lead.includes(col)));
  }

  // ---- colours ------------------------------------------------------------

  // Beyond eight classes a colour-blind-safe sequential ramp (viridis
  // anchors) replaces the qualitative palette.
  const VIRIDIS = [[68, 1, 84], [59, 82, 139], [33, 145, 140], [94, 201, 98], [253, 231, 37]];
  function classColours(classCount) {
    if (classCount <= OKABE_ITO.length) return OKABE_ITO.slice(0, classCount);
    const out = [];
    for (let k = 0; k < classCount; ++k) {
      const t = (k / (classCount - 1)) * (VIRIDIS.length - 1);
      const a = VIRIDIS[Math.floor(t)], b = VIRIDIS[Math.min(VIRIDIS.length - 1, Math.floor(t) + 1)];
      const f = t - Math.floor(t);
      const hex = (j) => Math.round(a[j] + (b[j] - a[j]) * f).toString(16).padStart(2, '0');
      out.push('#' + hex(0) + hex(1) + hex(2));
    }
    return out;
  }

  function niceTicks(low, high, count) {
    if (!(high > low)) return [low];
    const raw = (high - low) / count;
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw);
    const ticks = [];
    for (let t = Math.ceil(low / step) * step; t <= high + step * 1e-9; t += step) {
      ticks.push(Number(t.toPrecision(12)));
    }
    return ticks;
  }

  // ---- summary ------------------------------------------------------------

  function summary(D) {
    const row = (body, key, value, numeric) => {
      const tr = el('tr');
      tr.append(el('th', { scope: 'row' }, key), el('td', numeric ? { class: 'num' } : {}, value));
      body.append(tr);
    };
    const facts = $('facts').tBodies[0];
    for (const [key, value] of D.facts) row(facts, key, value);
    row(facts, 'genes', String(D.count));
    const studies = $('study-table').tBodies[0];
    D.studies.forEach((name, s) => row(studies, name, String(D.sizes[s]), true));
    const perClass = new Map();
    for (let i = 0; i < D.count; ++i) perClass.set(D.klass[i], (perClass.get(D.klass[i]) || 0) + 1);
    const classes = $('class-table').tBodies[0];
    [...perClass.keys()].sort((a, b) => a - b).forEach((k) => row(classes, String(k), String(perClass.get(k)), true));
    const pass = $('pass-table').tBodies[0];
    P_NAMES.forEach((name, c) => {
      let hits = 0;
      for (let i = 0; i < D.count; ++i) hits += D.qv[c][i] < 0.05;
      row(pass, name, String(hits), true);
    });
  }

  // ---- the gene table -----------------------------------------------------

  function makeTable(D, cols, exportCols, onSelect, onView) {
    const scroll = $('table-scroll');
    const body = $('gene-body');
    const head = $('gene-head');
    const table = $('gene-table');
    const state = { order: null, view: null, sortColumn: -1, descending: false, selected: -1 };
    const lower = D.gene.map((g) => g.toLowerCase());

    head.setAttribute('aria-rowindex', '1');
    // Wide enough for the column's name in bold (about 0.62 em a character).
    const widths = cols.map((col, c) => (c === 0 ? 8.5 : Math.max(6, 0.62 * col.label.length + 1.4)));
    // A fixed layout takes its column widths only from a table of a set
    // width; without one the columns shrink and clip their names.
    table.style.width = widths.reduce((a, b) => a + b, 0) + 'em';
    cols.forEach((col, c) => {
      const th = el('th', { scope: 'col', 'aria-sort': 'none' });
      th.style.width = widths[c] + 'em';
      const button = el('button', { type: 'button', title: 'Sort by ' + col.label }, col.label);
      button.addEventListener('click', () => sortBy(c));
      th.append(button);
      head.append(th);
    });
    const topSpacer = el('tr', { class: 'spacer', 'aria-hidden': 'true' });
    const bottomSpacer = el('tr', { class: 'spacer', 'aria-hidden': 'true' });
    topSpacer.append(el('td', { colspan: String(cols.length) }));
    bottomSpacer.append(el('td', { colspan: String(cols.length) }));
    body.append(topSpacer, bottomSpacer);
    const pool = [];

    function rowFor(k) {
      while (pool.length <= k) {
        const tr = el('tr', { class: 'data' });
        for (let c = 0; c < cols.length; ++c) tr.append(el('td'));
        tr.addEventListener('click', () => onSelect(Number(tr.dataset.index), false));
        body.insertBefore(tr, bottomSpacer);
        pool.push(tr);
      }
      return pool[k];
    }

    function render() {
      const view = state.view;
      const visible = Math.ceil(scroll.clientHeight / ROW) + 2 * OVERSCAN;
      const first = Math.max(0, Math.min(view.length - 1, Math.floor(scroll.scrollTop / ROW) - OVERSCAN));
      const last = Math.min(view.length, Math.max(first, 0) + visible);
      topSpacer.firstChild.style.height = first * ROW + 'px';
      bottomSpacer.firstChild.style.height = (view.length - last) * ROW + 'px';
      let k = 0;
      for (let r = Math.max(first, 0); r < last; ++r, ++k) {
        const i = view[r];
        const tr = rowFor(k);
        tr.hidden = false;
        tr.dataset.index = String(i);
        tr.setAttribute('aria-rowindex', String(r + 2));
        tr.setAttribute('aria-selected', String(i === state.selected));
        for (let c = 0; c < cols.length; ++c) {
          const value = cols[c].get(i);
          const td = tr.cells[c];
          if (cols[c].text) {
            td.textContent = value;
            td.title = value;
            td.className = c === 0 && D.excluded[i] ? 'excluded' : '';
          } else {
            td.textContent = show(value);
            td.title = exact(value);
            td.className = Number.isNaN(value) ? 'na' : '';
          }
        }
      }
      for (; k < pool.length; ++k) pool[k].hidden = true;
      table.setAttribute('aria-rowcount', String(view.length + 1));
    }

    let pending = false;
    scroll.addEventListener('scroll', () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; render(); });
    });
    window.addEventListener('resize', render);

    function sortBy(c) {
      state.descending = state.sortColumn === c ? !state.descending : false;
      state.sortColumn = c;
      const get = cols[c].get;
      const order = Array.from({ length: D.count }, (_, i) => i);
      const sign = state.descending ? -1 : 1;
      if (cols[c].text) {
        order.sort((a, b) => {
          const x = get(a), y = get(b);
          return x < y ? -sign : x > y ? sign : a - b;
        });
      } else {
        const key = new Float64Array(D.count);
        for (let i = 0; i < D.count; ++i) key[i] = get(i);
        // NA last in either direction; ties keep the initial order.
        order.sort((a, b) => {
          const x = key[a], y = key[b];
          const xn = Number.isNaN(x), yn = Number.isNaN(y);
          if (xn || yn) return xn === yn ? a - b : xn ? 1 : -1;
          return x < y ? -sign : x > y ? sign : a - b;
        });
      }
      state.order = Uint32Array.from(order);
      Array.from(head.cells).forEach((th, k) => th.setAttribute('aria-sort',
        k !== c ? 'none' : state.descending ? 'descending' : 'ascending'));
      applyFilter();
    }

    const filterText = $('filter-text'), filterQ = $('filter-q'), filterN = $('filter-n');
    const qColumn = $('filter-q-column');
    P_NAMES.forEach((name, c) => qColumn.append(el('option', { value: String(c) }, 'q_' + name)));
    qColumn.value = '1';

    function applyFilter() {
      const text = filterText.value.trim().toLowerCase();
      const qText = filterQ.value.trim(), nText = filterN.value.trim();
      const qLimit = qText === '' ? NaN : Number(qText);
      const nLimit = nText === '' ? NaN : Number(nText);
      const qv = D.qv[Number(qColumn.value)];
      const order = state.order;
      const kept = new Uint32Array(order.length);
      let m = 0;
      for (let r = 0; r < order.length; ++r) {
        const i = order[r];
        if (text && !lower[i].includes(text)) continue;
        if (!Number.isNaN(qLimit) && !(qv[i] < qLimit)) continue;
        if (!Number.isNaN(nLimit) && !(D.n[i] >= nLimit)) continue;
        kept[m++] = i;
      }
      state.view = kept.subarray(0, m);
      count();
      render();
      if (onView) onView(state.view);
    }

    function count() {
      const hidden = state.selected >= 0 && state.view.indexOf(state.selected) < 0;
      $('row-count').textContent = state.view.length + ' of ' + D.count + ' genes shown' +
        (hidden ? '; the selected gene is hidden by the filters' : '');
    }

    let timer = 0;
    const later = () => { clearTimeout(timer); timer = setTimeout(applyFilter, 150); };
    filterText.addEventListener('input', later);
    filterQ.addEventListener('input', later);
    filterN.addEventListener('input', later);
    qColumn.addEventListener('change', applyFilter);
    $('filters').addEventListener('submit', (event) => { event.preventDefault(); applyFilter(); });
    $('filter-clear').addEventListener('click', () => {
      filterText.value = filterQ.value = filterN.value = '';
      applyFilter();
    });

    function reveal(i) {
      const r = state.view.indexOf(i);
      if (r < 0) return;
      const top = r * ROW, bottom = top + 2 * ROW;  // the header row sits above
      if (top < scroll.scrollTop) scroll.scrollTop = top;
      else if (bottom > scroll.scrollTop + scroll.clientHeight) scroll.scrollTop = bottom - scroll.clientHeight;
    }

    function move(event) {
      const view = state.view;
      if (view.length === 0) return;
      const page = Math.max(1, Math.floor(scroll.clientHeight / ROW) - 2);
      const at = state.selected >= 0 ? view.indexOf(state.selected) : -1;
      const steps = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
      let r;
      if (event.key in steps) r = at < 0 ? 0 : at + steps[event.key];
      else if (event.key === 'Home') r = 0;
      else if (event.key === 'End') r = view.length - 1;
      else return;
      event.preventDefault();
      onSelect(view[Math.max(0, Math.min(view.length - 1, r))], true);
    }
    scroll.addEventListener('keydown', move);

    function exportRows() {
      const lines = [exportCols.map((col) => col.label).join('\t')];
      for (const i of state.view) {
        lines.push(exportCols.map((col) => (col.text ? col.get(i) : exact(col.get(i)))).join('\t'));
      }
      const blob = new Blob([lines.join('\n') + '\n'], { type: 'text/tab-separated-values' });
      const link = el('a', { href: URL.createObjectURL(blob), download: 'korvelan-genes.tsv' });
      document.body.append(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    }
    $('export').addEventListener('click', exportRows);

    function printRows() {
      const printTable = $('print-table');
      printTable.tHead.replaceChildren(el('tr'));
      cols.forEach((col) => printTable.tHead.rows[0].append(el('th', { scope: 'col' }, col.label)));
      const rows = [];
      for (let r = 0; r < Math.min(PRINT_ROWS, state.view.length); ++r) {
        const tr = el('tr');
        cols.forEach((col) => tr.append(el('td', {}, col.text ? col.get(state.view[r]) : show(col.get(state.view[r])))));
        rows.push(tr);
      }
      printTable.tBodies[0].replaceChildren(...rows);
      printTable.createCaption().textContent = 'The first ' + rows.length + ' of ' + state.view.length + ' genes shown';
    }
    window.addEventListener('beforeprint', printRows);

    state.order = Uint32Array.from({ length: D.count }, (_, i) => i);
    applyFilter();
    return {
      state, render, reveal, sortBy, applyFilter,
      select(i) { state.selected = i; count(); reveal(i); render(); },
    };
  }

  // ---- plots --------------------------------------------------------------

  function histograms(D) {
    const grid = $('histograms');
    const W = 320, H = 180, L = 44, R = 8, T = 20, B = 30;
    P_NAMES.forEach((name, c) => {
      const counts = new Array(BINS).fill(0);
      let total = 0;
      for (const v of D.p[c]) {
        if (Number.isNaN(v)) continue;
        counts[Math.max(0, Math.min(BINS - 1, Math.floor(v * BINS)))] += 1;
        ++total;
      }
      const expected = total / BINS;
      const top = Math.max(expected, ...counts) * 1.05 || 1;
      const x = (v) => L + v * (W - L - R), y = (v) => H - B - (v / top) * (H - T - B);
      const root = svg('svg', { viewBox: `0 0 ${W} ${H}`, width: W, height: H, role: 'img',
        'aria-label': `Histogram of p_${name}: ${total} P-values, ${D.count - total} NA` });
      root.append(svg('text', { x: L, y: 13, 'font-weight': '600' }, 'p_' + name +
        (D.count > total ? ` (${D.count - total} NA)` : '')));
      counts.forEach((n, b) => {
        const bar = svg('rect', { class: 'bar', x: x(b / BINS), y: y(n), width: x(1 / BINS) - L, height: y(0) - y(n) });
        bar.append(svg('title', {}, `${(b / BINS).toFixed(2)}-${((b + 1) / BINS).toFixed(2)}: ${n}`));
        root.append(bar);
      });
      root.append(svg('line', { class: 'uniform', x1: x(0), x2: x(1), y1: y(expected), y2: y(expected) }));
      root.append(svg('line', { class: 'axis', x1: L, x2: W - R, y1: H - B, y2: H - B }));
      root.append(svg('line', { class: 'axis', x1: L, x2: L, y1: T, y2: H - B }));
      for (const t of [0, 0.25, 0.5, 0.75, 1]) {
        root.append(svg('text', { x: x(t), y: H - B + 14, 'text-anchor': 'middle' }, String(t)));
      }
      for (const t of niceTicks(0, top, 4)) {
        root.append(svg('text', { x: L - 4, y: y(t) + 4, 'text-anchor': 'end' }, String(t)));
      }
      grid.append(root);
    });
  }

  // The gene's q-value on the volcano's vertical axis: of the R-mean tail
  // whose P-value is the smaller (up or down for signed rankings).
  function volcanoQ(D, i) {
    const right = D.qv[0][i], left = D.qv[1][i];
    if (Number.isNaN(left)) return right;
    if (Number.isNaN(right)) return left;
    return D.p[1][i] <= D.p[0][i] ? left : right;
  }

  function makeScatter(D, colours, onSelect) {
    const canvas = $('volcano'), tooltip = $('tooltip');
    const xs = D.lfcmean || D.rmean, xLabel = D.lfcmean ? 'logFC_mean' : 'R-mean';
    const shown = new Uint8Array(D.count).fill(1);
    const W = 640, H = 420, L = 64, R = 12, T = 12, B = 44, CELL = 8, REACH = 6;
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.round(W * ratio);
    canvas.height = Math.round(H * ratio);
    canvas.style.width = W + 'px';
    canvas.style.height = H + 'px';
    const px = new Float32Array(D.count), py = new Float32Array(D.count);
    let cells = null, cellStart = null, selected = -1, columnsX = 0;
    const hiddenClasses = new Set();
    const rgb = colours.map((hex) => [1, 3, 5].map((k) => parseInt(hex.slice(k, k + 2), 16)));

    function draw() {
      const yOf = (i) => { const q = volcanoQ(D, i); return q > 0 ? -Math.log10(q) : q === 0 ? Infinity : NaN; };
      let x0 = Infinity, x1 = -Infinity, y0 = Infinity, y1 = -Infinity;
      const ys = new Float64Array(D.count);
      for (let i = 0; i < D.count; ++i) {
        const x = xs[i], y = (ys[i] = yOf(i));
        if (Number.isFinite(x) && !Number.isNaN(y)) { x0 = Math.min(x0, x); x1 = Math.max(x1, x); }
        if (Number.isFinite(y) && Number.isFinite(x)) { y0 = Math.min(y0, y); y1 = Math.max(y1, y); }
      }
      if (!(x1 >= x0)) { x0 = 0; x1 = 1; }
      if (!(y1 >= y0)) { y0 = 0; y1 = 1; }
      y0 = 0;
      // q = 0 has no logarithm: such genes sit on a line above the rest.
      const zeroLine = y1 + Math.max((y1 - y0) * 0.06, 0.1);
      const yTop = zeroLine + (y1 - y0) * 0.02 + 1e-9;
      const sx = (W - L - R) / (x1 - x0 || 1), sy = (H - T - B) / (yTop - y0 || 1);
      // Redrawn on every filter: the pixels are read back each time.
      const ctx = canvas.getContext('2d', { willReadFrequently: true });
      ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
      ctx.fillStyle = '#fff';
      ctx.fillRect(0, 0, W, H);
      const image = ctx.getImageData(0, 0, canvas.width, canvas.height);
      const pixels = image.data, stride = canvas.width;
      const dot = Math.max(2, Math.round(3 * ratio));
      let anyZero = false;
      for (let i = 0; i < D.count; ++i) {
        const x = xs[i];
        let y = ys[i];
        if (y === Infinity) { y = zeroLine; anyZero = true; }
        if (!Number.isFinite(x) || !Number.isFinite(y) || hiddenClasses.has(D.klass[i]) || !shown[i]) {
          px[i] = py[i] = NaN;
          continue;
        }
        px[i] = L + (x - x0) * sx;
        py[i] = H - B - (y - y0) * sy;
        const [r, g, b] = rgb[(D.klass[i] - 1 + rgb.length) % rgb.length];
        const cx = Math.round(px[i] * ratio - dot / 2), cy = Math.round(py[i] * ratio - dot / 2);
        for (let dy = 0; dy < dot; ++dy) {
          for (let dx = 0; dx < dot; ++dx) {
            const at = ((cy + dy) * stride + cx + dx) * 4;
            pixels[at] = r; pixels[at + 1] = g; pixels[at + 2] = b; pixels[at + 3] = 255;
          }
        }
      }
      ctx.putImageData(image, 0, 0);
      ctx.strokeStyle = '#555';
      ctx.fillStyle = '#1a1a1a';
      ctx.font = '11px system-ui, sans-serif';
      ctx.beginPath();
      ctx.moveTo(L, T); ctx.lineTo(L, H - B); ctx.lineTo(W - R, H - B);
      ctx.stroke();
      ctx.textAlign = 'center';
      for (const t of niceTicks(x0, x1, 6)) {
        if (t < x0 - 1e-9 || t > x1 + 1e-9) continue;
        ctx.fillText(show(t), L + (t - x0) * sx, H - B + 14);
      }
      ctx.fillText(xLabel, (L + W - R) / 2, H - 8);
      ctx.textAlign = 'right';
      for (const t of niceTicks(y0, y1, 6)) {
        if (t < y0 - 1e-9 || t > y1 + 1e-9) continue;
        ctx.fillText(show(t), L - 4, H - B - (t - y0) * sy + 4);
      }
      if (anyZero) {
        ctx.fillText('q = 0', L - 4, H - B - (zeroLine - y0) * sy + 4);
        ctx.setLineDash([3, 3]);
        ctx.beginPath();
        ctx.moveTo(L, H - B - (zeroLine - y0) * sy); ctx.lineTo(W - R, H - B - (zeroLine - y0) * sy);
        ctx.stroke();
        ctx.setLineDash([]);
      }
      ctx.save();
      ctx.translate(14, (T + H - B) / 2);
      ctx.rotate(-Math.PI / 2);
      ctx.textAlign = 'center';
      ctx.fillText('-log10 q', 0, 0);
      ctx.restore();
      index();
      mark();
    }

    // Genes bucketed by CELL-pixel squares: hover and click look at the
    // nine squares around the pointer instead of every gene.
    function index() {
      columnsX = Math.ceil(W / CELL) + 1;
      const cellCount = columnsX * (Math.ceil(H / CELL) + 1);
      const cellOf = new Int32Array(D.count).fill(-1);
      cellStart = new Uint32Array(cellCount + 1);
      for (let i = 0; i < D.count; ++i) {
        if (Number.isNaN(px[i])) continue;
        cellOf[i] = Math.floor(py[i] / CELL) * columnsX + Math.floor(px[i] / CELL);
        cellStart[cellOf[i] + 1] += 1;
      }
      for (let k = 0; k < cellCount; ++k) cellStart[k + 1] += cellStart[k];
      const fill = cellStart.slice(0, cellCount);
      cells = new Uint32Array(cellStart[cellCount]);
      for (let i = 0; i < D.count; ++i) if (cellOf[i] >= 0) cells[fill[cellOf[i]]++] = i;
    }

    function nearest(x, y) {
      let best = -1, bestDistance = REACH * REACH;
      const cx = Math.floor(x / CELL), cy = Math.floor(y / CELL);
      for (let gy = cy - 1; gy <= cy + 1; ++gy) {
        for (let gx = cx - 1; gx <= cx + 1; ++gx) {
          if (gx < 0 || gy < 0 || gx >= columnsX) continue;
          const k = gy * columnsX + gx;
          if (k + 1 >= cellStart.length) continue;
          for (let j = cellStart[k]; j < cellStart[k + 1]; ++j) {
            const i = cells[j];
            const d = (px[i] - x) ** 2 + (py[i] - y) ** 2;
            // The gene drawn last is the one on top.
            if (d < bestDistance || (d === bestDistance && i > best)) { best = i; bestDistance = d; }
          }
        }
      }
      return best;
    }

    let overlay = null;
    function mark() {
      if (overlay) overlay.remove();
      overlay = null;
      if (selected < 0 || Number.isNaN(px[selected])) return;
      overlay = el('div', { class: 'selected-mark', 'aria-hidden': 'true' });
      Object.assign(overlay.style, { position: 'absolute', left: px[selected] - 7 + 'px', top: py[selected] - 7 + 'px',
        width: '14px', height: '14px', border: '2px solid #000', borderRadius: '50%',
        boxShadow: '0 0 0 2px #fff', pointerEvents: 'none', boxSizing: 'border-box' });
      canvas.parentNode.append(overlay);
    }

    function at(event) {
      const box = canvas.getBoundingClientRect();  // border box: the drawing starts inside the border
      return nearest(event.clientX - box.left - canvas.clientLeft, event.clientY - box.top - canvas.clientTop);
    }
    canvas.addEventListener('mousemove', (event) => {
      const i = at(event);
      if (i < 0) { tooltip.hidden = true; canvas.style.cursor = ''; return; }
      canvas.style.cursor = 'pointer';
      tooltip.textContent = `${D.gene[i]}  ` + (D.dir ? `${{ 1: 'up', '-1': 'down', 0: 'NA' }[D.dir[i]]}  ` : '') +
        `${xLabel} ${show(xs[i])}  q ${show(volcanoQ(D, i))}  class ${D.klass[i]}`;
      tooltip.style.left = Math.min(px[i] + 10, W - 200) + 'px';
      tooltip.style.top = Math.max(py[i] - 30, 0) + 'px';
      tooltip.hidden = false;
    });
    canvas.addEventListener('mouseleave', () => { tooltip.hidden = true; });
    canvas.addEventListener('click', (event) => {
      const i = at(event);
      if (i >= 0) onSelect(i, true);
    });

    // Each class's legend entry shows or hides its genes.
    const legend = $('class-legend');
    const present = new Set(D.klass);
    [...present].sort((a, b) => a - b).forEach((k) => {
      const item = el('button', { type: 'button', 'aria-pressed': 'true', title: 'Show or hide class ' + k });
      item.append(el('span', {}, 'class ' + k));
      item.firstChild.style.setProperty('--swatch', colours[(k - 1 + colours.length) % colours.length]);
      item.addEventListener('click', () => {
        if (hiddenClasses.has(k)) hiddenClasses.delete(k); else hiddenClasses.add(k);
        item.setAttribute('aria-pressed', String(!hiddenClasses.has(k)));
        draw();
      });
      legend.append(item);
    });

    draw();
    return {
      select(i) { selected = i; mark(); },
      // Only the genes the table shows (its filters) are drawn.
      setView(view) {
        shown.fill(0);
        for (const i of view) shown[i] = 1;
        draw();
      },
      // For tests: where each gene is drawn, in CSS pixels of the canvas.
      points() {
        const out = [];
        for (let i = 0; i < D.count; ++i) if (!Number.isNaN(px[i])) out.push([D.gene[i], px[i], py[i]]);
        return out;
      },
    };
  }

  function selectedPlot(D, i) {
    const host = $('selected-plot');
    const caption = $('selected-caption');
    host.replaceChildren();
    if (i < 0) return;
    const S = D.studies.length;
    caption.textContent = `Selected gene: ${D.gene[i]} (class ${D.klass[i]}, R-mean ${show(D.rmean[i])}, ` +
      `p_Rmean_left ${show(D.p[1][i])}, q ${show(D.qv[1][i])}): rank in each study`;
    const largest = Math.max(1, ...D.sizes);
    const W = 420, L = 110, R = 150, ROWH = 26, T = 6;
    const H = T + S * ROWH + 24;
    const x = (v) => L + (v / largest) * (W - L - R);
    const root = svg('svg', { viewBox: `0 0 ${W} ${H}`, width: W, height: H, role: 'img',
      'aria-label': `Rank of ${D.gene[i]} in each study` });
    D.studies.forEach((name, s) => {
      const y = T + s * ROWH;
      const rank = D.ranks[i * S + s];
      root.append(svg('text', { x: L - 6, y: y + 15, 'text-anchor': 'end' }, name));
      root.append(svg('rect', { class: 'track', x: L, y: y + 6, width: x(D.sizes[s]) - L, height: 12 }));
      let note = 'not ranked';
      if (!Number.isNaN(rank)) {
        root.append(svg('rect', { class: 'mark', x: x(rank) - 2, y: y + 2, width: 4, height: 20 }));
        note = `${show(rank)} of ${D.sizes[s]} (top ${((100 * rank) / D.sizes[s]).toFixed(1)}%)`;
      }
      root.append(svg('text', { x: W - R + 6, y: y + 15 }, note));
    });
    root.append(svg('line', { class: 'axis', x1: L, x2: W - R, y1: H - 20, y2: H - 20 }));
    root.append(svg('text', { x: L, y: H - 6 }, '1 (top)'));
    root.append(svg('text', { x: W - R, y: H - 6, 'text-anchor': 'end' }, String(largest)));
    host.append(root);
  }

  // ---- legend, methods, gene view -----------------------------------------

  function legend(D) {
    const list = $('legend-list');
    for (const [term, meaning] of D.legend) {
      const dt = el('dt', {}, term);
      if (term === 'excluded') dt.prepend(el('span', { class: 'swatch-excluded', 'aria-hidden': 'true' }));
      list.append(dt, el('dd', {}, meaning));
    }
    $('legend').hidden = D.legend.length === 0;
  }

  function methods(D) {
    const text = $('methods-text'), status = $('methods-status');
    text.textContent = D.methods;
    $('methods').hidden = D.methods === '';
    $('methods-copy').addEventListener('click', () => {
      const done = () => { status.textContent = 'Copied'; };
      // A page opened from a file may have no clipboard API: the selected
      // text is copied the old way.
      const fallback = () => {
        const range = document.createRange();
        range.selectNodeContents(text);
        const selection = window.getSelection();
        selection.removeAllRanges();
        selection.addRange(range);
        status.textContent = document.execCommand('copy') ? 'Copied' : 'Selected: press Ctrl+C to copy';
      };
      if (navigator.clipboard && window.isSecureContext) navigator.clipboard.writeText(D.methods).then(done, fallback);
      else fallback();
    });
  }

  function geneDetail(D, i) {
    const host = $('gene-detail');
    host.hidden = i < 0;
    if (i < 0) return;
    const S = D.studies.length;
    $('gene-detail-title').textContent = D.gene[i];
    const parts = [`class ${D.klass[i]}`, `ranked by ${D.n[i]} of ${S} studies`,
      `R-mean ${show(D.rmean[i])}`, `${'p_' + P_NAMES[D.sort]} ${show(D.p[D.sort][i])}`];
    if (D.dir) parts.push({ 1: 'up', '-1': 'down', 0: 'no direction' }[D.dir[i]] + ` (up in ${D.nup[i]}, down in ${D.ndown[i]})`);
    if (D.lfcmean) parts.push(`logFC_mean ${show(D.lfcmean[i])}`);
    if (D.excluded[i]) parts.push('excluded: too few studies');
    $('gene-detail-summary').textContent = parts.join('; ');
    const rows = D.studies.map((name, s) => {
      const tr = el('tr');
      const rank = D.ranks[i * S + s];
      tr.append(el('th', { scope: 'row' }, name), el('td', { class: 'num', title: exact(rank) }, show(rank)),
        el('td', { class: 'num' }, String(D.sizes[s])),
        el('td', { class: 'num', title: D.lfc ? exact(D.lfc[i * S + s]) : '' }, D.lfc ? show(D.lfc[i * S + s]) : 'NA'));
      return tr;
    });
    $('gene-detail-table').tBodies[0].replaceChildren(...rows);
  }

  // ---- start --------------------------------------------------------------

  function start() {
    const D = load();
    document.title = D.title;
    $('title').textContent = D.title;
    summary(D);
    legend(D);
    methods(D);
    const cols = columns(D);
    let classCount = 0;
    for (let i = 0; i < D.count; ++i) classCount = Math.max(classCount, D.klass[i]);
    const colours = classColours(Math.max(1, classCount));
    let table = null, scatter = null;
    const onSelect = (i, fromPlot) => {
      table.select(i);
      scatter.select(i);
      selectedPlot(D, i);
      geneDetail(D, i);
      if (fromPlot) $('table-scroll').focus({ preventScroll: true });
    };
    const onView = (view) => { if (scatter) scatter.setView(view); };
    table = makeTable(D, displayOrder(D, cols), cols, onSelect, onView);
    scatter = makeScatter(D, colours, onSelect);
    scatter.setView(table.state.view);
    $('gene-detail-close').addEventListener('click', () => { $('gene-detail').hidden = true; });
    histograms(D);
    document.addEventListener('keydown', (event) => {
      const typing = /^(INPUT|SELECT|TEXTAREA)$/.test(document.activeElement.tagName);
      if (event.key === '/' && !typing) {
        event.preventDefault();
        $('filter-text').focus();
      }
    });
    $('volcano').addEventListener('keydown', (event) => {
      if (/^(Arrow|Page|Home|End)/.test(event.key)) $('table-scroll').dispatchEvent(new KeyboardEvent('keydown', { key: event.key }));
    });
    $('loading').hidden = true;
    window.korvelanReport = {
      data: D, table: table.state, select: (i) => onSelect(i, false), points: scatter.points,
      readyAt: performance.now(),
    };
  }

  try {
    start();
  } catch (error) {
    $('loading').textContent = 'The report could not be shown: ' + error.message;
    throw error;
  }
})();

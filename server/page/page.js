// The public page: reads the stats endpoints, fills a card per campaign from its template,
// draws the charts, and refreshes every 30 s without reloading. When the server cannot be
// reached it says so in one line and keeps the figures it has. Every text from the server is
// set as text, never as markup.
'use strict';

(() => {
  const REFRESH_MS = 30000;
  const TWO_POW_128 = '340282366920938463463374607431768211456';
  // The order of the coverage bar, its legend and its table.
  const STATES = [
    ['validated', 'Validated'],
    ['pending', 'Waiting for a copy'],
    ['leased', 'Leased'],
    ['set_aside', 'Set aside'],
    ['open', 'Open'],
  ];
  const operatorView = new URLSearchParams(location.search).get('view') === 'operator';
  const cards = new Map();  // campaign name -> {root, charts}
  let shownTime = null;     // the server's time of the figures on the page

  const $ = (root, selector) => root.querySelector(selector);
  const css = (name) => getComputedStyle(document.documentElement).getPropertyValue(name).trim();

  // Exact counts arrive as decimal strings; they are grouped, never rounded.
  const group = (digits) => BigInt(digits).toLocaleString('en-US');
  const utc = (text) => (text ? text.replace('T', ' ').replace(/:\d\dZ$/, ' UTC').replace('Z', ' UTC') : '–');
  const utcSeconds = (text) => (text ? text.replace('T', ' ').replace('Z', ' UTC') : '–');

  // 3 significant digits; tiny and huge values in powers of ten.
  function numberText(v) {
    if (v === 0) return '0';
    if (v >= 1e-3 && v < 1e6) return Number(v.toPrecision(3)).toLocaleString('en-US');
    const [mantissa, exponent] = v.toExponential(2).split('e');
    return `${mantissa} × 10^${Number(exponent)}`;
  }

  // part / total as a percentage, from the exact counts: shares of 2^128-start campaigns are
  // far below what a double of the counts would show.
  function percent(part, total) {
    const p = BigInt(part);
    const t = BigInt(total);
    if (t === 0n || p === t) return '100 %';
    if (p === 0n) return '0 %';
    const scale = 10n ** 45n;
    const scaled = (p * 100n * scale) / t;  // the percentage times 10^45
    const value = Number(scaled.toString()) / 1e45;
    if (value >= 0.01) return `${value < 99.995 ? value.toFixed(2) : '99.99'} %`;
    return `${numberText(value)} %`;
  }

  function widthOf(part, total) {
    const t = BigInt(total);
    return t === 0n ? 0 : Number((BigInt(part) * 1000000n) / t) / 10000;
  }

  function durationText(seconds) {
    if (seconds === null || seconds === undefined) return 'unknown (nothing validated in the last hour)';
    if (seconds === 0) return 'none: every start is validated';
    if (seconds < 3600) return `${Math.max(1, Math.ceil(seconds / 60))} min`;
    if (seconds < 86400 * 3) return `${Math.round(seconds / 3600)} h`;
    const days = seconds / 86400;
    if (days < 3650) return `${Math.round(days).toLocaleString('en-US')} days`;
    return `${numberText(days / 365.25)} years`;
  }

  const plural = (n, noun) => `${n.toLocaleString('en-US')} ${noun}${n === 1 ? '' : 's'}`;

  function endText(end) {
    return end === TWO_POW_128 ? `${group(end)} (2^128)` : group(end);
  }

  function setText(root, selector, text) {
    const el = $(root, selector);
    if (el.textContent !== text) el.textContent = text;
  }

  // Replaces a table body's rows; `rows` are arrays of [text, class] cells.
  function fillRows(tbody, rows, emptyText, columns) {
    const fresh = document.createDocumentFragment();
    for (const row of rows) {
      const tr = document.createElement('tr');
      for (const [text, cls] of row) {
        const td = document.createElement('td');
        if (cls) td.className = cls;
        if (text instanceof Node) td.append(text);
        else td.textContent = text;
        tr.append(td);
      }
      fresh.append(tr);
    }
    if (rows.length === 0) {
      const tr = document.createElement('tr');
      tr.className = 'none';
      const td = document.createElement('td');
      td.colSpan = columns;
      td.textContent = emptyText;
      tr.append(td);
      fresh.append(tr);
    }
    tbody.replaceChildren(fresh);
  }

  async function getJson(path) {
    let reply;
    try {
      reply = await fetch(path, { cache: 'no-store', headers: { Accept: 'application/json' } });
    } catch (e) {
      throw new Error('no answer from the server');
    }
    let body = null;
    try {
      body = await reply.json();
    } catch (e) {
      // An error page that is not JSON: the status says enough.
    }
    if (!reply.ok) throw new Error(`HTTP ${reply.status}${body && body.error ? `: ${body.error}` : ''}`);
    if (body === null) throw new Error('a reply that is not JSON');
    return body;
  }

  function makeCharts(root) {
    if (typeof Chart === 'undefined') return null;
    Chart.defaults.color = css('--muted');
    Chart.defaults.borderColor = css('--line');
    Chart.defaults.font.family = getComputedStyle(document.body).fontFamily;
    const common = {
      animation: false,
      responsive: true,
      maintainAspectRatio: false,
      interaction: { mode: 'index', intersect: false },
      plugins: { legend: { display: false } },
      scales: {
        // One label a day, at midnight UTC (every 6 hours over a day or less): a week of
        // hours leaves no room for more. Tooltips name the hour.
        x: {
          grid: { display: false },
          ticks: {
            maxRotation: 0,
            autoSkip: false,
            callback(value, index) {
              const start = this.chart.data.starts && this.chart.data.starts[index];
              if (!start) return null;
              const d = new Date(start);
              const every = this.chart.data.starts.length > 24 ? 24 : 6;
              if (d.getUTCHours() % every !== 0) return null;
              // A narrow chart labels every other day.
              if (every === 24 && this.chart.width < 520 && Math.floor(d.getTime() / 86400000) % 2 !== 0) return null;
              return every === 24 ? d.toLocaleDateString('en-GB', { day: 'numeric', month: 'short', timeZone: 'UTC' })
                : `${String(d.getUTCHours()).padStart(2, '0')}:00`;
            },
          },
        },
        y: { beginAtZero: true, ticks: { precision: 0 } },
      },
    };
    const compact = new Intl.NumberFormat('en-US', { notation: 'compact', maximumSignificantDigits: 3 });
    const throughput = new Chart($(root, '.throughput-chart'), {
      type: 'bar',
      data: { labels: [], datasets: [{ label: 'Starts validated', data: [], exact: [], backgroundColor: css('--throughput') }] },
      options: {
        ...common,
        plugins: {
          legend: { display: false },
          tooltip: { callbacks: { label: (ctx) => `${group(ctx.dataset.exact[ctx.dataIndex])} starts validated` } },
        },
        scales: { ...common.scales, y: { beginAtZero: true, ticks: { precision: 0, callback: (v) => compact.format(v) } } },
      },
    });
    const workers = new Chart($(root, '.workers-chart'), {
      type: 'line',
      data: {
        labels: [],
        datasets: [{
          label: 'Workers active', data: [], borderColor: css('--workers'), backgroundColor: `${css('--workers')}33`,
          fill: true, stepped: 'middle', pointRadius: 0, borderWidth: 2,
        }],
      },
      options: common,
    });
    return { throughput, workers };
  }

  function card(name) {
    let c = cards.get(name);
    if (c) return c;
    const root = document.getElementById('campaign-template').content.firstElementChild.cloneNode(true);
    root.dataset.campaign = name;
    setText(root, '.name', name);
    document.getElementById('campaigns').append(root);
    c = { root, charts: makeCharts(root) };
    cards.set(name, c);
    return c;
  }

  function showCampaign(c) {
    const { root } = card(c.name);
    const total = c.starts_total;
    const done = BigInt(c.starts_validated) === BigInt(total);
    const badge = $(root, '[data-figure="state"]');
    badge.textContent = c.paused ? 'Paused' : done ? 'Complete' : 'Running';
    badge.className = `badge${c.paused ? ' paused' : done ? ' done' : ''}`;
    setText(root, '[data-figure="range"]',
      `Starts ${group(c.begin)} to ${endText(c.end)} (end excluded), in ${group(c.units_total)} units of ` +
      `${group(c.unit_size)} starts`);

    // Units not made yet are open too: every unit of the range is in one state.
    const units = { ...c.units };
    const made = ['validated', 'pending', 'leased', 'set_aside'].reduce((sum, s) => sum + BigInt(units[s]), 0n);
    units.open = (BigInt(c.units_total) - made).toString();

    const bar = $(root, '.bar');
    const segments = [];
    const legend = [];
    const spoken = [];
    for (const [state, label] of STATES) {
      const starts = c.starts[state];
      const share = percent(starts, total);
      if (state !== 'open' && BigInt(starts) > 0n) {
        const seg = document.createElement('span');
        seg.className = `${state} some`;
        seg.style.width = `${widthOf(starts, total)}%`;
        seg.title = `${label}: ${share}`;
        segments.push(seg);
      }
      const li = document.createElement('li');
      const swatch = document.createElement('i');
      swatch.className = state;
      const value = document.createElement('b');
      value.textContent = share;
      li.append(swatch, `${label} `, value);
      legend.push(li);
      spoken.push(`${label} ${share}`);
    }
    bar.replaceChildren(...segments);
    bar.setAttribute('aria-label', `Coverage of the range: ${spoken.join(', ')}`);
    $(root, '.legend').replaceChildren(...legend);

    setText(root, '[data-figure="validated_below"]', endText(c.validated_below));
    setText(root, '[data-figure="share_validated"]', percent(c.starts_validated, total));
    setText(root, '[data-figure="time_left"]', durationText(c.seconds_left));
    setText(root, '[data-figure="starts_validated"]', group(c.starts_validated));
    setText(root, '[data-figure="pace"]', `${numberText(c.starts_per_second)} starts/s`);
    setText(root, '[data-figure="units_validated"]', `${group(String(c.units.validated))} of ${group(c.units_total)}`);

    fillRows($(root, '.coverage-table tbody'), STATES.map(([state, label]) => [
      [label], [group(String(units[state])), 'num'], [group(c.starts[state]), 'num'], [percent(c.starts[state], total), 'num'],
    ]), '', 4);
  }

  function showActivity(name, a) {
    const c = cards.get(name);
    if (!c) return;
    const { root, charts } = c;
    const labels = a.hours.map((h) => {
      const d = new Date(h.start);
      return `${d.toLocaleDateString('en-GB', { day: 'numeric', month: 'short', timeZone: 'UTC' })} ` +
        `${String(d.getUTCHours()).padStart(2, '0')}:00`;
    });
    const busiest = a.hours.reduce((m, h) => (BigInt(h.starts_validated) > BigInt(m) ? h.starts_validated : m), '0');
    const mostWorkers = a.hours.reduce((m, h) => Math.max(m, h.active_workers), 0);
    const throughputCanvas = $(root, '.throughput-chart');
    throughputCanvas.setAttribute('aria-label',
      `Starts validated per hour over the last ${a.hours.length} hours; the busiest hour validated ${group(busiest)}. ` +
      'The data behind the charts below holds every hour.');
    $(root, '.workers-chart').setAttribute('aria-label',
      `Workers active per hour over the last ${a.hours.length} hours; at most ${mostWorkers} in one hour.`);
    if (charts) {
      const t = charts.throughput.data;
      t.labels = labels;
      t.starts = a.hours.map((h) => h.start);
      t.datasets[0].data = a.hours.map((h) => Number(h.starts_validated));
      t.datasets[0].exact = a.hours.map((h) => h.starts_validated);
      charts.throughput.update('none');
      const w = charts.workers.data;
      w.labels = labels;
      w.starts = t.starts;
      w.datasets[0].data = a.hours.map((h) => h.active_workers);
      charts.workers.update('none');
    }
    // The table lists the latest hour first, as people read a log.
    fillRows($(root, '.hours-table tbody'), a.hours.slice().reverse().map((h) => [
      [utc(h.start)], [group(h.starts_validated), 'num'], [String(h.units_validated), 'num'], [String(h.active_workers), 'num'],
    ]), '', 4);
    fillRows($(root, '.top-workers tbody'), a.top_workers.map((w) => [
      [w.worker_id], [group(String(w.units_validated)), 'num'], [group(w.starts_validated), 'num'],
    ]), 'No unit is validated yet.', 3);
    fillRows($(root, '.latest-units tbody'), a.latest_units.map((u) => [
      [utcSeconds(u.validated_at)], [u.worker_id], [`${group(u.begin)} – ${endText(u.end)}`, 'range-cell'],
    ]), 'No unit is validated yet.', 3);
  }

  function whyList(results) {
    const ul = document.createElement('ul');
    for (const r of results) {
      const li = document.createElement('li');
      // A refused result says why; the others say what their reply said ("pending: ...").
      const said = r.reason ? `${r.standing}: ${r.reason}` : r.audit || r.standing;
      li.textContent = `${r.worker_id}, ${said} (${utcSeconds(r.received_at)})`;
      ul.append(li);
    }
    return ul;
  }

  function showOperator(o) {
    const section = document.getElementById('operator');
    section.hidden = false;
    const op = (name) => section.querySelector(`[data-op="${name}"]`);
    const leases = o.leases;
    op('expiry-rate').textContent = leases.expiry_rate === null ? 'no lease ended' : percent(
      String(leases.expired), String(leases.completed + leases.expired));
    op('leases-ended').textContent =
      `${leases.completed} with a result, ${leases.expired} ran out (last ${leases.window_hours} h)`;
    op('results-pending').textContent =
      `${plural(o.backlog.results_pending, 'result')} on ${plural(o.backlog.units_pending, 'unit')}`;
    op('oldest-pending').textContent = o.backlog.oldest_pending_at ? utcSeconds(o.backlog.oldest_pending_at) : 'none waiting';
    op('set-aside-total').textContent = `(${o.set_aside.total})`;
    op('mismatches-total').textContent = `(${o.mismatches.total})`;
    op('workers-total').textContent = `(${o.workers.total})`;
    const rangeCell = (u) => [`${group(u.begin)} – ${endText(u.end)}`, 'range-cell'];
    fillRows($(section, '#set-aside tbody'), o.set_aside.units.map((u) => [
      [u.campaign], rangeCell(u), [whyList(u.results), 'why'],
    ]), 'No unit is set aside.', 3);
    fillRows($(section, '#mismatches tbody'), o.mismatches.units.map((u) => [
      [u.campaign], rangeCell(u), [u.state.replace('_', ' ')], [whyList(u.results), 'why'],
    ]), 'No copies disagree.', 4);
    fillRows($(section, '#troubled-workers tbody'), o.workers.workers.map((w) => {
      const standing = document.createElement('span');
      standing.textContent = w.banned ? 'banned' : w.results_copied ? 'at fault: its results are copied' : 'at fault earlier';
      if (w.banned) standing.className = 'standing-banned';
      return [[w.worker_id], [standing], [utcSeconds(w.last_fault_at)], [String(w.validated_since_fault), 'num'],
        [String(w.results_rejected), 'num']];
    }), 'No worker is at fault or banned.', 5);
  }

  function showOffline(reason) {
    const line = document.getElementById('offline');
    line.textContent = `The server cannot be reached (${reason}). ` +
      (shownTime ? `The figures below are those of ${utcSeconds(shownTime)}; ` : 'No figures yet; ') +
      `the page tries again every ${REFRESH_MS / 1000} seconds.`;
    line.hidden = false;
  }

  async function refresh() {
    try {
      const summary = await getJson('/api/v1/stats/summary');
      const activities = await Promise.all(summary.campaigns.map((c) =>
        getJson(`/api/v1/stats/campaign?campaign=${encodeURIComponent(c.name)}`)));
      const operator = operatorView ? await getJson('/api/v1/stats/operator') : null;

      // Everything arrived: the page changes at once, never half.
      const names = new Set(summary.campaigns.map((c) => c.name));
      for (const [name, c] of cards) {
        if (names.has(name)) continue;
        if (c.charts) Object.values(c.charts).forEach((chart) => chart.destroy());
        c.root.remove();
        cards.delete(name);
      }
      summary.campaigns.forEach(showCampaign);
      summary.campaigns.forEach((c, i) => showActivity(c.name, activities[i]));
      if (operator) showOperator(operator);
      document.getElementById('no-campaign').hidden = summary.campaigns.length > 0;
      shownTime = summary.time;
      document.getElementById('updated').textContent =
        `Figures of ${utcSeconds(summary.time)} · ${summary.active_workers} workers active in the last hour · ` +
        `refreshed every ${REFRESH_MS / 1000} s`;
      document.getElementById('offline').hidden = true;
    } catch (e) {
      showOffline(e.message);
    } finally {
      document.getElementById('campaigns').setAttribute('aria-busy', 'false');
      setTimeout(refresh, REFRESH_MS);
    }
  }

  refresh();
})();

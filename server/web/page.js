// The station's live page: the state from /api/station, then every change
// from the event stream. Whatever a device or a client sent is put in as
// text (textContent), never as markup.
'use strict';

(function () {
  const PORT_WORDS = {
    waiting: 'Waiting for a module',
    detecting: 'Detecting',
    programming: 'Programming',
    passed: 'Passed',
    failed: 'Failed',
    'adapter-gone': 'Adapter gone',
    paused: 'Paused',
    ended: 'Ended',
  };
  const STATION_WORDS = { running: 'Running', paused: 'Paused', stopping: 'Stopping', ended: 'Ended' };
  const RECENT = 20;
  // The exit status of a module cut short (a stop, the session's end).
  const INTERRUPTED = 9;

  const tiles = new Map();
  let recent = [];
  let run = null; // the station's run: a restart begins another, with its own numbers
  let source = null;
  let ended = false;
  let elapsed = { seconds: 0, at: 0, modules: 0 };

  function byId(id) {
    return document.getElementById(id);
  }

  function element(tag, className, text) {
    const made = document.createElement(tag);
    if (className) made.className = className;
    if (text !== undefined) made.textContent = text;
    return made;
  }

  function banner(text, kind) {
    const shown = byId('connection');
    shown.textContent = text || '';
    shown.className = 'banner' + (kind ? ' ' + kind : '');
    shown.hidden = !text;
  }

  // The job in words, and the script's SHA-256 on a line of its own.
  function showJob(station) {
    let words = station.job;
    let sha = '';
    if (station.job === 'firmware') {
      words = 'Firmware ' + station.script + ' \u2014 ' + station.script_bytes + ' bytes';
      sha = 'SHA-256 ' + station.script_sha256;
    } else if (station.job === 'profibus-id') {
      words = 'Set the Profibus-ID to ' + station.profibus_id;
    } else if (station.job === 'read-id') {
      words = 'Read the Profibus-ID';
    }
    byId('job-words').textContent = words;
    byId('job-sha').textContent = sha;
  }

  function showRate() {
    const running = ended ? 0 : (performance.now() - elapsed.at) / 1000;
    const seconds = elapsed.seconds + running;
    byId('total-rate').textContent = seconds >= 60 ? Math.round(elapsed.modules * 3600 / seconds) : '\u2013';
  }

  function showStationState(state) {
    const shown = byId('station-state');
    shown.textContent = STATION_WORDS[state] || state;
    shown.className = 'station-state state-' + state;
    byId('pause').disabled = state !== 'running';
    byId('resume').disabled = state !== 'paused';
    byId('stop').disabled = state === 'stopping' || state === 'ended';
    byId('stop-yes').disabled = byId('stop').disabled;
    if (state === 'ended') askStop(false);
    if (state === 'ended' && !ended) {
      ended = true; // the server sends its last events, then closes the stream
      banner('The station has ended.', 'ended');
    }
  }

  // A record or the station of another run: the table held the run before's.
  function followRun(id) {
    if (id === run) return;
    if (run !== null) {
      recent = [];
      showRecent();
    }
    run = id;
    byId('run').textContent = run ? 'of run ' + run : '';
  }

  // Who and what the station is, and the ports in alarm.
  function showNames(station) {
    const names = [station.station, station.order && 'Order ' + station.order,
      station.operator && 'Operator ' + station.operator].filter((name) => name);
    byId('station-names').textContent = names.join(' \u00b7 ');
    const alarm = station.alarm || [];
    byId('alarm').textContent = alarm.length ? 'Alarm: ' + alarm.join(', ') : '';
    byId('alarm').hidden = alarm.length === 0;
  }

  function showStation(station) {
    followRun(station.run);
    showJob(station);
    showNames(station);
    byId('total-modules').textContent = station.modules;
    byId('total-passed').textContent = station.passed;
    byId('total-failed').textContent = station.failed;
    byId('total-yield').textContent =
      station.modules > 0 ? (100 * station.passed / station.modules).toFixed(1) + ' %' : '\u2013';
    elapsed = { seconds: station.elapsed_seconds, at: performance.now(), modules: station.modules };
    showRate();
    showStationState(station.state);
  }

  function tileOf(name) {
    let tile = tiles.get(name);
    if (tile) return tile;
    const root = element('article', 'tile');
    tile = {
      root: root,
      name: element('div', 'name', name),
      state: element('div', 'state'),
      step: element('div', 'step'),
      bar: element('div', 'bar'),
      fill: element('div'),
      failure: element('div', 'failure'),
      detail: element('div', 'detail'),
      alarm: element('div', 'alarm'),
      counts: element('div', 'counts'),
    };
    tile.bar.appendChild(tile.fill);
    root.dataset.port = name;
    [tile.name, tile.state, tile.step, tile.bar, tile.failure, tile.detail, tile.alarm,
      tile.counts].forEach(
      (part) => root.appendChild(part));
    byId('ports').appendChild(root);
    tiles.set(name, tile);
    return tile;
  }

  function showPort(port) {
    const tile = tileOf(port.port);
    tile.root.className = 'tile state-' + port.state;
    tile.root.dataset.state = port.state;
    tile.state.textContent = PORT_WORDS[port.state] || port.state;
    let step = port.step;
    if (port.percent !== null) step += ' \u2014 ' + port.percent.toFixed(1) + ' %';
    tile.step.textContent = step;
    tile.bar.hidden = port.percent === null;
    tile.fill.style.width = (port.percent || 0) + '%';
    // The last module stays in sight whatever the port does now: a failed
    // one red, one cut short amber, until the next module begins.
    const last = port.last;
    const busy = port.state === 'detecting' || port.state === 'programming';
    const lastKind = !last || busy ? '' : last.exit_status === 0 ? 'passed'
      : last.exit_status === INTERRUPTED ? 'cut' : 'failed';
    tile.root.dataset.last = lastKind;
    if (lastKind) tile.root.classList.add('last-' + lastKind);
    let outcome = lastKind && port.state !== 'passed' && port.state !== 'failed'
      ? 'Last: ' + last.outcome : lastKind ? last.outcome : '';
    if (lastKind === 'cut' || (lastKind === 'failed' && port.state === 'adapter-gone')) {
      outcome += ' \u2014 needs programming again';
    }
    tile.failure.textContent = outcome;
    tile.detail.textContent = lastKind === 'failed' || lastKind === 'cut' ? last.detail : '';
    tile.alarm.textContent = port.alarm ? port.failed_in_row + ' failed in a row' : '';
    tile.alarm.hidden = !port.alarm;
    tile.root.classList.toggle('alarm', port.alarm === true);
    tile.counts.textContent = 'Modules ' + port.modules + ' \u00b7 Failed ' + port.failed;
  }

  function showRecent() {
    const rows = byId('modules');
    const made = recent.map((module) => {
      const row = element('tr', module.exit_status === 0 ? 'passed' : 'failed');
      row.dataset.sequence = module.sequence;
      [module.sequence, module.time_utc, module.port, module.outcome, module.detail,
        module.startup_output, module.seconds === null ? '' : module.seconds.toFixed(1)].forEach(
        (value) => row.appendChild(element('td', '', String(value))));
      return row;
    });
    rows.replaceChildren(...made);
  }

  function addModule(module) {
    followRun(module.run);
    if (recent.some((known) => known.sequence === module.sequence)) return;
    recent.push(module);
    recent.sort((a, b) => b.sequence - a.sequence);
    recent = recent.slice(0, RECENT);
    showRecent();
  }

  // The plant's broker, when the station publishes to one.
  function showBroker(mqtt) {
    const shown = byId('broker');
    shown.hidden = !mqtt;
    if (!mqtt) return;
    shown.textContent = 'Broker ' + mqtt.broker + ': ' +
      (mqtt.reached ? 'reached' : (mqtt.problem || 'connecting'));
    shown.className = 'broker' + (mqtt.reached ? '' : ' away');
  }

  function listen(after) {
    source = new EventSource('/api/events?after=' + after + '&run=' + encodeURIComponent(run));
    source.addEventListener('station', (event) => showStation(JSON.parse(event.data)));
    source.addEventListener('port', (event) => showPort(JSON.parse(event.data)));
    source.addEventListener('module', (event) => addModule(JSON.parse(event.data)));
    source.addEventListener('mqtt', (event) => showBroker(JSON.parse(event.data)));
    source.onopen = () => {
      if (!ended) banner('');
    };
    source.onerror = () => {
      if (ended) {
        source.close();
        return;
      }
      banner('The connection to the station is lost. Reconnecting\u2026');
      if (source.readyState === EventSource.CLOSED) {
        source = null;
        setTimeout(start, 2000);
      }
    };
  }

  async function start() {
    try {
      const answer = await fetch('/api/station', { cache: 'no-store' });
      if (!answer.ok) throw new Error('status ' + answer.status);
      const station = await answer.json();
      showStation(station);
      station.ports.forEach(showPort);
      showBroker(station.mqtt);
      if (!ended) listen(Math.max(0, station.sequence - RECENT));
    } catch (error) {
      banner('The connection to the station is lost. Reconnecting\u2026');
      setTimeout(start, 2000);
    }
  }

  async function ask(path) {
    try {
      const answer = await fetch(path, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: '{}',
      });
      const told = await answer.json();
      if (told.state) showStationState(told.state);
    } catch (error) {
      banner('The station did not answer. Reconnecting\u2026');
    }
  }

  function askStop(shown) {
    byId('stop').hidden = shown;
    byId('stop-ask').hidden = !shown;
  }

  byId('pause').addEventListener('click', () => ask('/api/pause'));
  byId('resume').addEventListener('click', () => ask('/api/resume'));
  byId('stop').addEventListener('click', () => askStop(true));
  byId('stop-no').addEventListener('click', () => askStop(false));
  byId('stop-yes').addEventListener('click', () => {
    askStop(false);
    ask('/api/stop');
  });
  setInterval(showRate, 10000);
  start();
})();

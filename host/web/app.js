// The catalogue page of `tunedex serve`. Everything a station server sends is hostile, so its texts
// reach the document only as text nodes or as values of attributes that carry no code (never through
// innerHTML), links only when they are http or https, and images only from the host itself.
'use strict';

(() => {
    const token = document.querySelector('meta[name="tunedex-token"]')?.getAttribute('content') ?? '';

    // The operators of `tunedex stations --where`, with the words the page shows for them.
    const OPERATORS = [
        ['contains', 'contains'],
        ['notcontains', 'does not contain'],
        ['starts', 'starts with'],
        ['ends', 'ends with'],
        ['eq', 'is'],
        ['ne', 'is not'],
        ['in', 'is one of (a,b,…)'],
        ['lt', 'is less than'],
        ['le', 'is at most'],
        ['gt', 'is more than'],
        ['ge', 'is at least'],
        ['between', 'is between (low,high)'],
    ];
    // The columns `tunedex stations` shows when it is given no --fields, unless the host names them.
    let defaultColumns = ['Name', 'Bitrate', 'FileFormat', 'Genre', 'Country', 'Provider'];
    const COLUMN_KEY = 'tunedex.columns';

    const state = {
        fields: [], // [{name, title, type}] as the music library offers them
        columns: [],
        search: '',
        conditions: [], // [{field, op, value}]
        any: false,
        sort: null, // {field, desc}
        offset: 0,
        limit: 50,
        catalog: null, // one catalogue's id, or null for all
        total: 0,
        catalogs: [],
        kinds: [],
        editing: null, // the catalogue the editor changes, or null when it adds one
        view: 'stations',
    };

    const $ = (id) => document.getElementById(id);
    const number = new Intl.NumberFormat();

    // Builds an element; attributes through setAttribute, children as nodes or as text nodes.
    function el(tag, attributes = {}, ...children) {
        const node = document.createElement(tag);
        for (const [name, value] of Object.entries(attributes)) {
            if (value === null || value === undefined || value === false) continue;
            node.setAttribute(name, value === true ? '' : String(value));
        }
        for (const child of children) {
            if (child === null || child === undefined) continue;
            node.append(child instanceof Node ? child : document.createTextNode(String(child)));
        }
        return node;
    }

    // ---- talking to the host ----

    class ApiError extends Error {
        constructor(message, status) {
            super(message);
            this.status = status;
        }
    }

    const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

    // A read that finds the host's dialogs busy with another request (409) is asked again a few
    // times before the page gives up; a change is never repeated behind the person's back.
    async function api(path, options = {}) {
        for (let attempt = 1; ; attempt++) {
            try {
                return await request(path, options);
            } catch (error) {
                if ((options.method ?? 'GET') !== 'GET' || error.status !== 409 || attempt === 6) throw error;
                await pause(100 * attempt);
            }
        }
    }

    async function request(path, { method = 'GET', body } = {}) {
        const headers = { Accept: 'application/json' };
        if (method !== 'GET') {
            headers['X-Tunedex-Token'] = token;
            headers['Content-Type'] = 'application/json';
        }
        let response;
        try {
            response = await fetch(path, {
                method,
                headers,
                body: body === undefined ? undefined : JSON.stringify(body),
                credentials: 'same-origin',
            });
        } catch {
            throw new ApiError('Tunedex does not answer. Is `tunedex serve` still running?', 0);
        }
        let data = null;
        try {
            data = await response.json();
        } catch {
            data = null;
        }
        if (!response.ok) {
            const words =
                data && typeof data.error === 'string' && data.error
                    ? data.error
                    : `The request failed (${response.status} ${response.statusText}).`;
            throw new ApiError(words, response.status);
        }
        return data;
    }

    function showError(error) {
        const text = error instanceof Error ? error.message : String(error);
        $('error-text').textContent = text;
        $('error').hidden = false;
    }

    function clearError() {
        $('error').hidden = true;
        $('error-text').textContent = '';
    }

    // Runs an action of a button, turning its failure into words on the page.
    async function guarded(action) {
        try {
            clearError();
            await action();
        } catch (error) {
            showError(error);
        }
    }

    // ---- the station list ----

    // Words for the music library's field names where the host gives the bare name as the title.
    const FIELD_WORDS = {
        FileName: 'Stream',
        Bitrate: 'Bit rate',
        FileFormat: 'Format',
        Provider: 'Catalogue',
    };

    function fieldTitle(name) {
        const title = state.fields.find((f) => f.name === name)?.title;
        return (title && title !== name ? title : FIELD_WORDS[name]) || name;
    }

    function fieldType(name) {
        return state.fields.find((f) => f.name === name)?.type || 'text';
    }

    // The selection as query parameters: conditions, search, catalogue and sort order.
    function selectionParams() {
        const params = new URLSearchParams();
        if (state.search) params.set('search', state.search);
        // An empty value asks for "no value" with is / is not; with the other operators it is a
        // condition still being written, which would match everything or nothing.
        const conditions = state.conditions.filter((c) => c.value.trim() !== '' || c.op === 'eq' || c.op === 'ne');
        for (const c of conditions) {
            const value = c.value.trim() === '' ? '""' : c.value.trim();
            params.append('where', `${c.field} ${c.op} ${value}`);
        }
        if (state.any && conditions.length > 1) params.set('any', '1');
        if (state.catalog) params.set('catalog', state.catalog);
        if (state.sort)
            params.append('sort', state.sort.desc ? `${state.sort.field}:desc` : state.sort.field);
        return params;
    }

    let stationRequest = 0;
    async function loadStations() {
        const ticket = ++stationRequest;
        const params = selectionParams();
        const fields = state.columns.includes('Name') ? state.columns : ['Name', ...state.columns];
        params.set('fields', fields.join(','));
        params.set('offset', String(state.offset));
        params.set('limit', String(state.limit));
        updateExportLink();
        $('stations').setAttribute('aria-busy', 'true');
        let answer;
        try {
            answer = await api(`/api/stations?${params}`);
        } catch (error) {
            if (ticket !== stationRequest) return;
            $('stations').removeAttribute('aria-busy');
            renderStations(null);
            showError(error);
            return;
        }
        if (ticket !== stationRequest) return; // a newer request replaces this answer
        $('stations').removeAttribute('aria-busy');
        clearError();
        state.total = answer.total;
        // A window past the end (the list shrank) moves back to the last page.
        if (answer.rows.length === 0 && state.offset > 0 && answer.total > 0) {
            state.offset = Math.max(0, Math.floor((answer.total - 1) / state.limit) * state.limit);
            loadStations();
            return;
        }
        renderStations(answer);
    }

    function renderHead(fields) {
        const row = el(
            'tr',
            {},
            el('th', { scope: 'col', class: 'play-col' }, el('span', { class: 'visually-hidden' }, 'Play')),
        );
        for (const name of fields) {
            const sorted = state.sort && state.sort.field === name;
            const direction = sorted ? (state.sort.desc ? 'descending' : 'ascending') : null;
            const button = el(
                'button',
                { type: 'button', class: 'sort', 'data-field': name },
                fieldTitle(name),
                el(
                    'span',
                    { class: 'arrow', 'aria-hidden': 'true' },
                    sorted ? (state.sort.desc ? '▼' : '▲') : '',
                ),
            );
            button.addEventListener('click', () => toggleSort(name));
            row.append(
                el(
                    'th',
                    {
                        scope: 'col',
                        'aria-sort': direction,
                        class: fieldType(name) === 'number' ? 'num' : null,
                    },
                    button,
                ),
            );
        }
        const head = $('stations').tHead;
        head.replaceChildren(row);
    }

    function cellText(name, value) {
        if (value === null || value === undefined) return '';
        if (fieldType(name) === 'list') return String(value).split(';').filter(Boolean).join(', ');
        if (fieldType(name) === 'number' && (value === 0 || value === '0')) return '';
        return String(value);
    }

    function renderStations(answer) {
        const body = $('stations').tBodies[0];
        const fields = answer
            ? answer.fields.filter((f) => f !== 'FileName' || state.columns.includes('FileName'))
            : state.columns;
        renderHead(fields);
        body.replaceChildren();
        if (!answer) {
            $('summary').textContent = '';
            renderPager();
            return;
        }
        for (const row of answer.rows) {
            const url = row.FileName;
            const name = row.Name || url;
            const play = el(
                'button',
                { type: 'button', class: 'icon play', 'aria-label': `Play ${name}`, title: 'Play' },
                '▶',
            );
            play.addEventListener('click', () => guarded(() => playStation(url, name)));
            const tr = el('tr', {}, el('td', { class: 'play-col' }, play));
            for (const field of fields) {
                const text = cellText(field, row[field]);
                if (field === 'Name') {
                    const open = el('button', { type: 'button', class: 'link station-name' }, text || url);
                    open.addEventListener('click', () => guarded(() => openDetails(url)));
                    tr.append(el('td', { class: 'name', 'data-field': field }, open));
                } else {
                    tr.append(
                        el(
                            'td',
                            {
                                class: fieldType(field) === 'number' ? 'num' : null,
                                'data-field': field,
                                title: text.length > 24 ? text : null,
                            },
                            text,
                        ),
                    );
                }
            }
            body.append(tr);
        }
        const empty = $('stations-empty');
        empty.hidden = answer.rows.length > 0;
        empty.textContent =
            state.search || state.conditions.length || state.catalog
                ? 'No station matches. Change the search or the conditions.'
                : 'No stations yet. Add a catalogue under Catalogues.';
        const first = answer.rows.length ? state.offset + 1 : 0;
        const last = state.offset + answer.rows.length;
        const where = state.catalog ? ` in ${catalogTitle(state.catalog)}` : '';
        const ms = typeof answer.serverMs === 'number' ? ` (${answer.serverMs.toFixed(1)} ms)` : '';
        $('summary').textContent = answer.total
            ? `Stations ${number.format(first)}–${number.format(last)} of ${number.format(answer.total)}${where}${ms}`
            : `No stations${where}${ms}`;
        renderPager();
    }

    function renderPager() {
        const pages = Math.max(1, Math.ceil(state.total / state.limit));
        const page = Math.floor(state.offset / state.limit) + 1;
        $('page-of').textContent = `Page ${number.format(page)} of ${number.format(pages)}`;
        $('page-first').disabled = $('page-prev').disabled = page <= 1;
        $('page-next').disabled = $('page-last').disabled = page >= pages;
    }

    function goToPage(offset) {
        state.offset = Math.max(0, offset);
        loadStations();
    }

    function toggleSort(field) {
        if (state.sort && state.sort.field === field) state.sort = { field, desc: !state.sort.desc };
        else state.sort = { field, desc: false };
        state.offset = 0;
        loadStations().then(() =>
            $('stations')
                .querySelector(`button.sort[data-field="${CSS.escape(field)}"]`)
                ?.focus(),
        );
    }

    function reloadFromStart() {
        state.offset = 0;
        loadStations();
    }

    // ---- conditions ----

    function renderConditions() {
        const list = $('conditions');
        list.replaceChildren();
        state.conditions.forEach((condition, index) => {
            const fieldSelect = el('select', { 'aria-label': `Field of condition ${index + 1}` });
            for (const f of state.fields)
                fieldSelect.append(
                    el('option', { value: f.name, selected: f.name === condition.field }, fieldTitle(f.name)),
                );
            const opSelect = el('select', { 'aria-label': `Operator of condition ${index + 1}` });
            for (const [op, words] of OPERATORS)
                opSelect.append(el('option', { value: op, selected: op === condition.op }, words));
            const value = el('input', {
                type: 'text',
                value: condition.value,
                'aria-label': `Value of condition ${index + 1}`,
                placeholder: 'empty means no value',
                autocomplete: 'off',
                spellcheck: 'false',
            });
            value.value = condition.value;
            const remove = el(
                'button',
                {
                    type: 'button',
                    class: 'icon',
                    'aria-label': `Remove condition ${index + 1}`,
                    title: 'Remove',
                },
                '×',
            );

            fieldSelect.addEventListener('change', () => {
                condition.field = fieldSelect.value;
                reloadFromStart();
            });
            opSelect.addEventListener('change', () => {
                condition.op = opSelect.value;
                reloadFromStart();
            });
            let timer;
            value.addEventListener('input', () => {
                condition.value = value.value;
                clearTimeout(timer);
                timer = setTimeout(reloadFromStart, 350);
            });
            value.addEventListener('keydown', (event) => {
                if (event.key === 'Enter') {
                    event.preventDefault();
                    clearTimeout(timer);
                    reloadFromStart();
                }
            });
            remove.addEventListener('click', () => {
                state.conditions.splice(index, 1);
                renderConditions();
                reloadFromStart();
                ($('conditions').querySelector('input') || $('add-condition')).focus();
            });
            list.append(el('li', { class: 'condition' }, fieldSelect, opSelect, value, remove));
        });
        $('match').disabled = state.conditions.length < 2;
    }

    function addCondition() {
        const field = state.fields.find((f) => f.name === 'Genre') ? 'Genre' : state.fields[0]?.name;
        state.conditions.push({ field, op: 'contains', value: '' });
        renderConditions();
        const inputs = $('conditions').querySelectorAll('input');
        inputs[inputs.length - 1]?.focus();
    }

    // ---- columns ----

    function renderColumnChooser() {
        const box = $('columns');
        box.querySelectorAll('label').forEach((n) => n.remove());
        for (const f of state.fields) {
            if (f.name === 'Name') continue; // the name opens the details: always shown
            const box2 = el('input', {
                type: 'checkbox',
                value: f.name,
                checked: state.columns.includes(f.name),
            });
            box2.addEventListener('change', () => {
                const chosen = [...box.querySelectorAll('input:checked')].map((i) => i.value);
                state.columns = [
                    'Name',
                    ...state.fields.map((x) => x.name).filter((n) => chosen.includes(n)),
                ];
                try {
                    localStorage.setItem(COLUMN_KEY, JSON.stringify(state.columns));
                } catch {
                    /* private mode */
                }
                loadStations();
            });
            box.append(el('label', {}, box2, ` ${fieldTitle(f.name)}`));
        }
    }

    function initialColumns() {
        const known = new Set(state.fields.map((f) => f.name));
        try {
            const saved = JSON.parse(localStorage.getItem(COLUMN_KEY) || 'null');
            if (Array.isArray(saved) && saved.every((n) => typeof n === 'string')) {
                const columns = saved.filter((n) => known.has(n));
                if (columns.length) return columns.includes('Name') ? columns : ['Name', ...columns];
            }
        } catch {
            /* unreadable: use the defaults */
        }
        // The stream address is in every row, and shown in the details: no column unless chosen.
        return defaultColumns.filter((n) => known.has(n) && n !== 'FileName');
    }

    // ---- grouping by catalogue ----

    let groupsRequest = 0;
    async function loadGroups() {
        const ticket = ++groupsRequest;
        const answer = await api('/api/groups');
        if (ticket !== groupsRequest) return; // a newer answer is on its way
        const list = $('groups');
        const all = answer.groups.reduce((sum, g) => sum + (g.stations || 0), 0);
        const item = (id, title, count) => {
            const button = el(
                'button',
                {
                    type: 'button',
                    class: 'group',
                    'aria-current': (state.catalog || null) === id ? 'true' : null,
                },
                el('span', { class: 'group-title' }, title),
                el('span', { class: 'count' }, number.format(count)),
            );
            button.addEventListener('click', () => {
                state.catalog = id;
                list.querySelectorAll('button.group').forEach((b) => b.removeAttribute('aria-current'));
                button.setAttribute('aria-current', 'true');
                reloadFromStart();
            });
            return el('li', {}, button);
        };
        const items = [item(null, 'All catalogues', all)];
        for (const g of answer.groups) items.push(item(g.id, g.title || '(untitled)', g.stations || 0));
        list.replaceChildren(...items);
        if (state.catalog && !answer.groups.some((g) => g.id === state.catalog)) {
            state.catalog = null; // the catalogue was removed
            list.querySelector('button.group')?.setAttribute('aria-current', 'true');
            reloadFromStart();
        }
    }

    function catalogTitle(id) {
        return (
            state.catalogs.find((c) => c.id === id)?.title ||
            $('groups').querySelector('button[aria-current] .group-title')?.textContent ||
            'the catalogue'
        );
    }

    // ---- export ----

    function updateExportLink() {
        const params = selectionParams();
        params.set('format', $('export-format').value);
        const link = $('export');
        link.setAttribute('href', `/api/export?${params}`);
        link.setAttribute('download', `tunedex.${$('export-format').value}`);
    }

    // ---- details and playing ----

    function safeWebAddress(text) {
        if (typeof text !== 'string') return null;
        try {
            const url = new URL(text);
            return url.protocol === 'http:' || url.protocol === 'https:' ? url.href : null;
        } catch {
            return null;
        }
    }

    let detailsUrl = null;
    async function openDetails(url) {
        const answer = await api(`/api/station?url=${encodeURIComponent(url)}`);
        detailsUrl = answer.url || url;
        const name = answer.fields.find((f) => f.name === 'Name')?.value || detailsUrl;
        $('details-title').textContent = name;
        const facts = $('details-fields');
        facts.replaceChildren();
        for (const f of answer.fields) {
            if (f.name === 'Name' || f.value === null || f.value === undefined || f.value === '') continue;
            if (f.value === answer.homepage) continue; // the link below
            facts.append(el('dt', {}, f.title || f.name), el('dd', {}, String(f.value)));
        }
        const logo = $('details-logo');
        logo.hidden = true;
        logo.removeAttribute('src');
        if (typeof answer.logo === 'string' && answer.logo.startsWith('/api/logo?')) {
            logo.onload = () => {
                logo.hidden = false;
            };
            logo.onerror = () => {
                logo.hidden = true;
            };
            logo.setAttribute('alt', `Logo of ${name}`);
            logo.setAttribute('src', answer.logo);
        }
        const home = $('details-homepage');
        const page = safeWebAddress(answer.homepage);
        home.hidden = !page;
        if (page) {
            home.setAttribute('href', page);
            home.textContent = `Home page (${new URL(page).host})`;
            home.setAttribute('title', page);
        } else {
            home.removeAttribute('href');
        }
        const dialog = $('details');
        if (!dialog.open) dialog.showModal();
        $('details-play').focus();
    }

    async function playStation(url, name) {
        const answer = await api(`/api/play?url=${encodeURIComponent(url)}`);
        const stream = safeWebAddress(answer.stream);
        if (!stream) throw new Error('This station has no stream address the browser can play.');
        const audio = $('audio');
        audio.setAttribute('src', stream);
        $('now-playing').textContent = name;
        $('now-playing').setAttribute('title', stream);
        try {
            await audio.play();
        } catch (error) {
            // Not allowed: the browser waits for a click on its own controls.
            if (error?.name === 'NotAllowedError') return;
            const why =
                error?.name === 'NotSupportedError'
                    ? 'its format or address is one the browser does not support'
                    : 'the stream did not answer';
            throw new Error(`The browser cannot play this stream: ${why}.`);
        }
    }

    // ---- catalogues ----

    function formatDate(iso) {
        if (!iso) return 'never';
        const date = new Date(iso);
        return Number.isNaN(date.getTime()) ? String(iso) : date.toLocaleString();
    }

    let catalogsRequest = 0;
    async function loadCatalogs() {
        const ticket = ++catalogsRequest;
        const answer = await api('/api/catalogs');
        if (ticket !== catalogsRequest) return;
        state.catalogs = answer.catalogs;
        const body = $('catalogs').tBodies[0];
        body.replaceChildren();
        for (const c of answer.catalogs) {
            const refresh = el(
                'button',
                { type: 'button', 'aria-label': `Refresh ${c.title}`, disabled: c.updating },
                'Refresh',
            );
            refresh.addEventListener('click', () =>
                guarded(() =>
                    api('/api/refresh', { method: 'POST', body: { id: c.id } }).then(() =>
                        showTask(`${c.title}: waiting to refresh`, null, null),
                    ),
                ),
            );
            const edit = el('button', { type: 'button', 'aria-label': `Edit ${c.title}` }, 'Edit');
            edit.addEventListener('click', () =>
                guarded(async () => openEditor(await api(`/api/catalogs/${encodeURIComponent(c.id)}`))),
            );
            const remove = el(
                'button',
                { type: 'button', class: 'danger', 'aria-label': `Remove ${c.title}` },
                'Remove',
            );
            remove.addEventListener('click', () =>
                guarded(async () => {
                    if (
                        !(await confirmAction(
                            `Remove the catalogue “${c.title}” and its ${number.format(c.stations || 0)} stations?`,
                            'Remove',
                        ))
                    )
                        return;
                    await api(`/api/catalogs/${encodeURIComponent(c.id)}/remove`, {
                        method: 'POST',
                        body: {},
                    });
                    await refreshEverything();
                }),
            );
            const status = el('span', { class: 'badge', hidden: !c.updating }, 'updating…');
            body.append(
                el(
                    'tr',
                    { 'data-id': c.id, 'data-title': c.title },
                    el('td', { class: 'title' }, c.title || '(untitled)', ' ', status),
                    el('td', {}, el('time', { datetime: c.updated || null }, formatDate(c.updated))),
                    el('td', { class: 'num' }, number.format(c.stations || 0)),
                    el('td', { class: 'actions' }, refresh, edit, remove),
                ),
            );
        }
        $('catalogs-empty').hidden = answer.catalogs.length > 0;
        $('refresh-all').disabled = answer.catalogs.length === 0;
        $('reset').disabled = answer.catalogs.length === 0;
        if (answer.catalogs.some((c) => c.updating) && $('task').hidden) showTask('Refreshing…', null, null);
    }

    async function refreshEverything() {
        await loadCatalogs();
        await loadGroups();
        await loadStations();
    }

    // A modal question with a button of its own; resolves to true when it is confirmed.
    function confirmAction(question, yes) {
        const dialog = $('confirm');
        $('confirm-text').textContent = question;
        $('confirm-yes').textContent = yes;
        return new Promise((resolve) => {
            const done = (answer) => {
                $('confirm-yes').onclick = $('confirm-no').onclick = null;
                dialog.onclose = null;
                if (dialog.open) dialog.close();
                resolve(answer);
            };
            $('confirm-yes').onclick = () => done(true);
            $('confirm-no').onclick = () => done(false);
            dialog.onclose = () => done(false);
            dialog.showModal();
            $('confirm-no').focus();
        });
    }

    // ---- the catalogue editor ----

    const isRadioBrowser = (kind) => /radio browser/i.test(kind || '');
    const takesNoAddress = (kind) => /xiph/i.test(kind || '');

    function editorKindChanged() {
        const kind = $('editor-kind').value;
        const radio = isRadioBrowser(kind);
        const address = !radio && !takesNoAddress(kind);
        document.querySelectorAll('#editor [data-for="radio"]').forEach((n) => {
            n.hidden = !radio;
        });
        document.querySelectorAll('#editor [data-for="address"]').forEach((n) => {
            n.hidden = !address;
        });
        if (radio) loadServers();
        if (!address) $('preview').hidden = true;
    }

    let serversLoaded = false;
    async function loadServers() {
        if (serversLoaded) return;
        const select = $('editor-server');
        const state2 = $('editor-values-state');
        state2.textContent = 'Looking for Radio Browser servers…';
        try {
            const answer = await api('/api/servers');
            const chosen = select.value;
            for (const s of answer.servers)
                select.append(el('option', { value: s, selected: s === chosen }, s));
            serversLoaded = true;
            state2.textContent = '';
            loadValues();
        } catch (error) {
            state2.textContent = `No server list: ${error.message}`;
        }
    }

    let valuesRequest = 0;
    async function loadValues() {
        const ticket = ++valuesRequest;
        const list = $('editor-list').value;
        const server = $('editor-server').value;
        const params = new URLSearchParams({ list });
        if (server) params.set('server', server);
        $('editor-values-state').textContent = 'Loading the values the server offers…';
        try {
            const answer = await api(`/api/values?${params}`);
            if (ticket !== valuesRequest) return;
            $('editor-values').replaceChildren(...answer.values.map((v) => el('option', { value: v })));
            $('editor-values-state').textContent =
                `${number.format(answer.values.length)} values to choose from; type to narrow them.`;
        } catch (error) {
            if (ticket !== valuesRequest) return;
            $('editor-values').replaceChildren();
            $('editor-values-state').textContent =
                `No values from the server: ${error.message} You can still type one.`;
        }
    }

    async function openEditor(catalog) {
        if (!state.kinds.length) state.kinds = (await api('/api/kinds')).kinds;
        state.editing = catalog;
        const kind = $('editor-kind');
        kind.replaceChildren(...state.kinds.map((k) => el('option', { value: k }, k)));
        $('editor-title').textContent = catalog ? `Edit “${catalog.title}”` : 'Add a catalogue';
        $('editor-name').value = catalog?.title || '';
        kind.value =
            catalog?.kind ||
            state.kinds.find((k) => !isRadioBrowser(k) && !takesNoAddress(k)) ||
            state.kinds[0] ||
            '';
        $('editor-address').value = catalog?.address || '';
        $('editor-value').value = catalog?.value ?? '';
        if (catalog?.list) {
            const list = String(catalog.list).toLowerCase();
            const option = [...$('editor-list').options].find((o) =>
                o.value.startsWith(list.replace(/(ies|s)$/, '')),
            );
            if (option) $('editor-list').value = option.value;
        }
        if (catalog?.server) {
            const select = $('editor-server');
            if (![...select.options].some((o) => o.value === catalog.server))
                select.append(el('option', { value: catalog.server }, catalog.server));
            select.value = catalog.server;
        } else {
            $('editor-server').value = '';
        }
        $('editor-error').hidden = true;
        $('preview').hidden = true;
        $('preview-table').tBodies[0].replaceChildren();
        editorKindChanged();
        const dialog = $('editor');
        if (!dialog.open) dialog.showModal();
        $('editor-name').focus();
    }

    function editorBody() {
        const kind = $('editor-kind').value;
        const body = { title: $('editor-name').value, kind };
        if (isRadioBrowser(kind)) {
            // No server: the editor's own choice, as `add` without --server.
            if ($('editor-server').value) body.server = $('editor-server').value;
            body.list = $('editor-list').value;
            body.value = $('editor-value').value;
        } else if (!takesNoAddress(kind)) {
            body.address = $('editor-address').value.trim();
        }
        return body;
    }

    function editorError(message) {
        const box = $('editor-error');
        box.textContent = message;
        box.hidden = !message;
    }

    async function saveEditor(event) {
        event.preventDefault();
        const body = editorBody();
        if (!body.title.trim()) {
            editorError('Give the catalogue a title.');
            $('editor-name').focus();
            return;
        }
        if ('address' in body && !body.address) {
            editorError('Give the address of the catalogue’s document.');
            $('editor-address').focus();
            return;
        }
        editorError('');
        const save = $('editor-save');
        save.disabled = true;
        try {
            if (state.editing)
                await api(`/api/catalogs/${encodeURIComponent(state.editing.id)}`, { method: 'POST', body });
            else await api('/api/catalogs', { method: 'POST', body });
            $('editor').close();
            showTask(`${body.title}: waiting to refresh`, null, null);
            await loadCatalogs();
        } catch (error) {
            editorError(error.message);
        } finally {
            save.disabled = false;
        }
    }

    async function previewAddress() {
        const address = $('editor-address').value.trim();
        if (!address) {
            editorError('Give an address to preview.');
            $('editor-address').focus();
            return;
        }
        editorError('');
        const section = $('preview');
        const summary = $('preview-summary');
        const body = $('preview-table').tBodies[0];
        section.hidden = false;
        summary.textContent = 'Reading the document…';
        body.replaceChildren();
        const button = $('editor-preview');
        button.disabled = true;
        try {
            const answer = await api('/api/preview', {
                method: 'POST',
                body: { address, kind: $('editor-kind').value },
            });
            const shown = answer.stations.slice(0, 200);
            for (const s of shown) {
                body.append(
                    el(
                        'tr',
                        {},
                        el('td', {}, s.Name || ''),
                        el('td', {}, cellText('Genre', s.Genre)),
                        el('td', { class: 'num' }, s.Bitrate ? String(s.Bitrate) : ''),
                        el('td', { class: 'stream' }, s.FileName || ''),
                    ),
                );
            }
            let words = `${number.format(answer.stations.length)} station${answer.stations.length === 1 ? '' : 's'} in this document`;
            if (shown.length < answer.stations.length)
                words += ` (the first ${number.format(shown.length)} shown)`;
            words += '.';
            if (answer.stoppedAt) words += ` Reading stopped: ${answer.stoppedAt}`;
            summary.textContent = words;
        } catch (error) {
            summary.textContent = `No preview: ${error.message}`;
        } finally {
            button.disabled = false;
        }
    }

    // ---- background work: the host's task display, live ----

    let hideTaskTimer = null;
    function showTask(caption, position, total) {
        clearTimeout(hideTaskTimer);
        $('task').hidden = false;
        $('task-caption').textContent = caption;
        const bar = $('task-progress');
        if (typeof total === 'number' && total > 0) {
            bar.max = total;
            bar.value = Math.min(position || 0, total);
        } else {
            bar.removeAttribute('value'); // unknown size: an indeterminate bar
        }
        $('task-cancel').hidden = false;
    }

    function finishTask(result) {
        $('task-caption').textContent = result.summary || (result.ok ? 'Refreshed.' : 'The refresh failed.');
        const bar = $('task-progress');
        bar.max = 1;
        bar.value = 1;
        $('task-cancel').hidden = true;
        $('task').classList.toggle('failed', !result.ok);
        hideTaskTimer = setTimeout(() => {
            $('task').hidden = true;
            $('task').classList.remove('failed');
        }, 8000);

        $('last-run').hidden = false;
        $('last-run-summary').textContent = result.summary || '';
        // Catalogues that failed, and those whose document stopped being readable partway.
        const list = (items) => (Array.isArray(items) ? items : []);
        $('last-run-failures').replaceChildren(
            ...list(result.failures).map((f) =>
                el('li', {}, el('strong', {}, f.title || 'A catalogue'), `: ${f.reason || 'failed'}`),
            ),
            ...list(result.stopped).map((f) =>
                el('li', { class: 'stopped' }, el('strong', {}, f.title || 'A catalogue'), `: ${f.reason || ''}`),
            ),
        );
    }

    // Events come in bursts (a save changes the list, starts and ends a refresh): one reload for each.
    let refreshTimer = null;
    function scheduleRefresh() {
        clearTimeout(refreshTimer);
        refreshTimer = setTimeout(() => guarded(refreshEverything), 150);
    }

    // The catalogue's row says how far its refresh is.
    function markUpdating(title, position, total) {
        for (const row of $('catalogs').tBodies[0].rows) {
            if (row.dataset.title !== title) continue;
            const badge = row.querySelector('.badge');
            badge.hidden = false;
            badge.textContent =
                typeof total === 'number' && total > 0
                    ? `updating ${Math.min(100, Math.floor((100 * (position || 0)) / total))} %`
                    : 'updating…';
        }
    }

    function listen() {
        const events = new EventSource('/api/events');
        const parse = (event) => {
            try {
                return JSON.parse(event.data);
            } catch {
                return null;
            }
        };
        events.addEventListener('progress', (event) => {
            const p = parse(event);
            if (!p) return;
            const text = p.caption || 'updating';
            const caption = p.catalog && !text.startsWith(`${p.catalog}:`) ? `${p.catalog}: ${text}` : text;
            showTask(caption, p.position, p.total);
            markUpdating(p.catalog, p.position, p.total);
        });
        events.addEventListener('finished', (event) => {
            const result = parse(event);
            if (!result) return;
            finishTask(result);
            scheduleRefresh();
        });
        events.addEventListener('catalogs', scheduleRefresh);
    }

    // ---- views ----

    function showView(view) {
        state.view = view;
        for (const tab of document.querySelectorAll('.tab')) {
            if (tab.dataset.view === view) tab.setAttribute('aria-current', 'page');
            else tab.removeAttribute('aria-current');
        }
        $('view-stations').hidden = view !== 'stations';
        $('view-catalogs').hidden = view !== 'catalogs';
        if (view === 'catalogs') guarded(loadCatalogs);
        if (location.hash !== `#${view}`) history.replaceState(null, '', `#${view}`);
    }

    // ---- wiring ----

    function wire() {
        for (const tab of document.querySelectorAll('.tab'))
            tab.addEventListener('click', () => showView(tab.dataset.view));
        $('error-close').addEventListener('click', clearError);
        // "/" jumps to the search box, as on many sites, unless one is typing already.
        document.addEventListener('keydown', (event) => {
            const typing =
                event.target instanceof HTMLElement &&
                event.target.closest('input, select, textarea, dialog');
            if (event.key === '/' && !typing && state.view === 'stations') {
                event.preventDefault();
                $('search').focus();
            }
        });

        let searchTimer;
        $('search').addEventListener('input', () => {
            clearTimeout(searchTimer);
            searchTimer = setTimeout(() => {
                state.search = $('search').value.trim();
                reloadFromStart();
            }, 300);
        });
        $('filters').addEventListener('submit', (event) => {
            event.preventDefault();
            clearTimeout(searchTimer);
            state.search = $('search').value.trim();
            reloadFromStart();
        });
        $('add-condition').addEventListener('click', addCondition);
        $('match').addEventListener('change', () => {
            state.any = $('match').value === 'any';
            reloadFromStart();
        });

        $('page-first').addEventListener('click', () => goToPage(0));
        $('page-prev').addEventListener('click', () => goToPage(state.offset - state.limit));
        $('page-next').addEventListener('click', () => goToPage(state.offset + state.limit));
        $('page-last').addEventListener('click', () =>
            goToPage(Math.floor(Math.max(0, state.total - 1) / state.limit) * state.limit),
        );
        $('page-size').addEventListener('change', () => {
            state.limit = Number($('page-size').value);
            reloadFromStart();
        });
        $('export-format').addEventListener('change', updateExportLink);

        $('details-close').addEventListener('click', () => $('details').close());
        $('details-play').addEventListener('click', () =>
            guarded(() => playStation(detailsUrl, $('details-title').textContent)),
        );
        $('audio').addEventListener('error', () => {
            if ($('audio').getAttribute('src')) showError('The stream stopped or could not be played.');
        });

        $('catalog-add').addEventListener('click', () => guarded(() => openEditor(null)));
        $('refresh-all').addEventListener('click', () =>
            guarded(async () => {
                await api('/api/refresh', { method: 'POST', body: {} });
                showTask('Waiting to refresh every catalogue', null, null);
            }),
        );
        $('reset').addEventListener('click', () =>
            guarded(async () => {
                if (!(await confirmAction('Remove every catalogue and all their stations?', 'Remove all')))
                    return;
                await api('/api/reset', { method: 'POST', body: {} });
                await refreshEverything();
            }),
        );
        $('task-cancel').addEventListener('click', () =>
            guarded(() => api('/api/refresh/cancel', { method: 'POST', body: {} })),
        );

        $('editor-form').addEventListener('submit', (event) => saveEditor(event));
        $('editor-close').addEventListener('click', () => $('editor').close());
        $('editor-cancel').addEventListener('click', () => $('editor').close());
        $('editor-kind').addEventListener('change', editorKindChanged);
        $('editor-list').addEventListener('change', loadValues);
        $('editor-server').addEventListener('change', loadValues);
        $('editor-preview').addEventListener('click', previewAddress);
        $('editor-address').addEventListener('keydown', (event) => {
            if (event.key === 'Enter') {
                event.preventDefault();
                previewAddress();
            }
        });
    }

    async function start() {
        wire();
        try {
            const info = await api('/api/info');
            state.fields = info.fields;
            if (Array.isArray(info.defaultFields) && info.defaultFields.length) defaultColumns = info.defaultFields;
            state.columns = initialColumns();
            renderColumnChooser();
            renderConditions();
            const view = location.hash === '#catalogs' ? 'catalogs' : 'stations';
            showView(view);
            listen();
            await Promise.all([loadStations(), loadGroups().then(loadCatalogs)]);
            document.body.dataset.ready = 'true';
        } catch (error) {
            showError(error);
        }
    }

    start();
})();

// The page's behaviour: the code, the uploads (one request per file, in order, for a progress
// bar each) and the list of offered files. Names from the computer or the user's files only
// ever go into textContent and attributes, never into markup.
'use strict';

(() => {
    const byId = (id) => document.getElementById(id);

    const codeInput = byId('code');
    const loginButton = byId('login-button');
    const loginMessage = byId('login-message');
    const fileInput = byId('files');
    const dropZone = byId('drop');
    const uploadList = byId('uploads');
    const overall = byId('overall');
    const overallBar = byId('overall-bar');
    const overallText = byId('overall-text');
    const offeredList = byId('offered');
    const offeredMessage = byId('offered-message');
    const refreshButton = byId('refresh');

    let token = '';
    // The token the login must carry; the server hands it out while no session is open.
    let loginToken = '';
    let lockTimer = 0;
    // Files waiting to go, the request under way, and the current batch's totals for the overall
    // bar (a file counts by its size, at least 1, so empty files move the bar too).
    const queue = [];
    let current = null;
    let batch = {files: 0, finished: 0, failed: 0, weight: 0, weightDone: 0};

    function say(element, text) {
        element.textContent = text;
        element.hidden = !text;
    }

    function show(state) {
        byId('starting').hidden = state !== 'starting';
        byId('login').hidden = state !== 'login';
        byId('send').hidden = state !== 'main';
        byId('fetch').hidden = state !== 'main';
    }

    // The same units as the program's own windows.
    function sizeText(bytes) {
        const oneDecimal = (value, unit) => (Math.floor((value * 10) / unit) / 10).toFixed(1);
        if (bytes <= 0)
            return '0 字节';
        if (bytes < 1024)
            return bytes + ' 字节';
        if (bytes < 1048576)
            return Math.floor(bytes / 1024) + ' KB';
        if (bytes < 1073741824)
            return oneDecimal(bytes, 1048576) + ' MB';
        return oneDecimal(bytes, 1073741824) + ' GB';
    }

    async function readJson(response) {
        try {
            return await response.json();
        } catch (error) {
            return {};
        }
    }

    // The session is gone (the page was stopped and started again, or the cookie was lost):
    // whatever was under way ends and the code is asked again.
    function backToCode(text) {
        token = '';
        fetchLoginToken();
        if (current)
            current.abort();
        while (queue.length)
            finish(queue.shift(), false, '未发送');
        show('login');
        say(loginMessage, text);
        codeInput.value = '';
        codeInput.focus();
    }

    function enterPage(newToken) {
        token = newToken;
        loginToken = '';
        say(loginMessage, '');
        show('main');
        loadOffered();
    }

    async function start() {
        let response;
        try {
            response = await fetch('/api/state', {cache: 'no-store'});
        } catch (error) {
            say(byId('starting'), '无法连接这台电脑。请确认电脑上的网页传输还开着,然后刷新本页。');
            return;
        }
        const body = await readJson(response);
        if (response.ok && typeof body.token === 'string') {
            enterPage(body.token);
            showOffered(body.files);
        } else {
            if (typeof body.login === 'string')
                loginToken = body.login;
            show('login');
            codeInput.focus();
        }
    }

    // Locked out after too many wrong codes: the seconds count down, then the code may be tried.
    function lockFor(seconds) {
        clearInterval(lockTimer);
        let left = Math.max(1, Math.ceil(Number(seconds) || 60));
        const tick = () => {
            if (left <= 0) {
                clearInterval(lockTimer);
                loginButton.disabled = false;
                say(loginMessage, '');
                return;
            }
            say(loginMessage, '代码输错次数太多,请在 ' + left + ' 秒后再试。');
            left -= 1;
        };
        loginButton.disabled = true;
        tick();
        lockTimer = setInterval(tick, 1000);
    }

    async function fetchLoginToken() {
        try {
            const body = await readJson(await fetch('/api/state', {cache: 'no-store'}));
            if (typeof body.login === 'string')
                loginToken = body.login;
        } catch (error) {
            // The login says so when it cannot reach the computer.
        }
    }

    async function postCode(code) {
        const response = await fetch('/api/login', {
            method: 'POST',
            headers: {
                'Content-Type': 'application/x-www-form-urlencoded',
                'X-Tolvex-Token': loginToken,
            },
            body: 'code=' + code,
        });
        return {response, body: await readJson(response)};
    }

    async function logIn(event) {
        event.preventDefault();
        const code = codeInput.value.trim();
        if (!/^[0-9]{6}$/.test(code)) {
            say(loginMessage, '代码是六位数字,请按电脑上显示的输入。');
            codeInput.focus();
            return;
        }
        loginButton.disabled = true;
        let answer;
        try {
            if (!loginToken)
                await fetchLoginToken();
            answer = await postCode(code);
            // The page was started again since this one loaded: once more with a fresh token.
            if (answer.response.status === 403 && answer.body.error === 'bad-token') {
                await fetchLoginToken();
                answer = await postCode(code);
            }
        } catch (error) {
            loginButton.disabled = false;
            say(loginMessage, '无法连接这台电脑。请确认电脑上的网页传输还开着。');
            return;
        }
        const {response, body} = answer;
        loginButton.disabled = false;
        if (response.ok && typeof body.token === 'string') {
            enterPage(body.token);
        } else if (response.status === 429) {
            lockFor(body.seconds);
        } else if (body.error === 'wrong-code') {
            say(loginMessage, '代码不对,请核对电脑上显示的六位代码。');
            codeInput.select();
        } else {
            say(loginMessage,
                '电脑没有接受这次登录(HTTP ' + response.status + ')。请刷新本页再试。');
        }
    }

    function showOverall() {
        overall.hidden = batch.files === 0;
        overallBar.value = batch.weight ? batch.weightDone / batch.weight : 0;
        if (batch.finished < batch.files) {
            overallText.textContent =
                '正在发送第 ' + (batch.finished + 1) + ' / ' + batch.files + ' 个';
        } else if (batch.failed) {
            overallText.textContent = '完成,' + batch.failed + ' 个文件未发送';
        } else {
            overallText.textContent = '全部完成';
        }
    }

    function addFiles(files) {
        if (!token || !files || !files.length)
            return;
        if (!current && !queue.length)
            batch = {files: 0, finished: 0, failed: 0, weight: 0, weightDone: 0};
        for (const file of files) {
            const item = document.createElement('li');
            const row = document.createElement('div');
            row.className = 'row';
            const name = document.createElement('span');
            name.className = 'name';
            name.textContent = file.name;
            const size = document.createElement('span');
            size.className = 'size';
            size.textContent = sizeText(file.size);
            row.append(name, size);
            const bar = document.createElement('progress');
            bar.max = 1;
            bar.value = 0;
            const status = document.createElement('p');
            status.className = 'status';
            status.textContent = '等待发送';
            item.append(row, bar, status);
            uploadList.append(item);
            queue.push({file, item, bar, status, weight: Math.max(1, file.size)});
            batch.files += 1;
            batch.weight += Math.max(1, file.size);
        }
        showOverall();
        sendNext();
    }

    function finish(upload, ok, text) {
        upload.status.textContent = text;
        upload.item.classList.add(ok ? 'done' : 'failed');
        if (ok)
            upload.bar.value = 1;
        batch.finished += 1;
        if (!ok)
            batch.failed += 1;
        batch.weightDone += upload.weight;
        showOverall();
    }

    function uploadError(status) {
        if (status === 500)
            return '电脑无法保存这个文件(磁盘可能已满,或没有写入权限)。';
        if (status === 400)
            return '电脑没有接受这个文件(请求有误)。';
        if (status === 413)
            return '文件太大,电脑没有接受。';
        return '发送失败(HTTP ' + status + ')。';
    }

    function sendNext() {
        if (current || !queue.length || !token)
            return;
        const upload = queue.shift();
        const request = new XMLHttpRequest();
        current = request;
        const done = () => {
            current = null;
            sendNext();
        };
        request.upload.addEventListener('progress', (event) => {
            if (!event.lengthComputable || !event.total)
                return;
            const part = Math.min(1, event.loaded / event.total);
            upload.bar.value = part;
            overallBar.value =
                batch.weight ? (batch.weightDone + part * upload.weight) / batch.weight : 0;
        });
        request.addEventListener('load', () => {
            let body = {};
            try {
                body = JSON.parse(request.responseText);
            } catch (error) {
                body = {};
            }
            if (request.status === 401 || (request.status === 403 && body.error === 'bad-token')) {
                finish(upload, false, '未发送');
                current = null;
                backToCode('登录已失效,请重新输入代码。');
                return;
            }
            if (request.status === 200) {
                const saved = Array.isArray(body.saved) && body.saved.length ? body.saved[0] : null;
                const name =
                    saved && typeof saved.name === 'string' ? saved.name : upload.file.name;
                finish(
                    upload, true, name === upload.file.name ? '已发送' : '已发送,保存为 ' + name);
            } else {
                finish(upload, false, uploadError(request.status));
            }
            done();
        });
        request.addEventListener('error', () => {
            finish(upload, false, '连接中断,这个文件没有发送完。');
            done();
        });
        request.addEventListener('abort', () => {
            finish(upload, false, '未发送');
            current = null;
        });
        upload.status.textContent = '正在发送……';
        const form = new FormData();
        form.append('file', upload.file, upload.file.name);
        request.open('POST', '/api/upload');
        request.setRequestHeader('X-Tolvex-Token', token);
        request.send(form);
    }

    function showOffered(files) {
        offeredList.replaceChildren();
        const list = Array.isArray(files) ? files : [];
        for (const file of list) {
            if (!file || !Number.isInteger(file.id) || typeof file.name !== 'string')
                continue;
            const item = document.createElement('li');
            const link = document.createElement('a');
            link.href = '/api/file/' + file.id;
            link.download = '';
            link.className = 'name';
            link.textContent = file.name;
            const size = document.createElement('span');
            size.className = 'size';
            size.textContent = sizeText(Number(file.size) || 0);
            item.append(link, size);
            offeredList.append(item);
        }
        say(offeredMessage, offeredList.children.length ? '' : '这台电脑现在没有提供下载的文件。');
    }

    async function loadOffered() {
        refreshButton.disabled = true;
        try {
            const response = await fetch('/api/state', {cache: 'no-store'});
            const body = await readJson(response);
            if (response.status === 401) {
                backToCode('登录已失效,请重新输入代码。');
            } else if (response.ok) {
                if (typeof body.token === 'string')
                    token = body.token;
                showOffered(body.files);
            } else {
                say(offeredMessage, '无法取得文件列表(HTTP ' + response.status + ')。');
            }
        } catch (error) {
            say(offeredMessage, '无法连接这台电脑。请确认电脑上的网页传输还开着。');
        } finally {
            refreshButton.disabled = false;
        }
    }

    byId('login-form').addEventListener('submit', logIn);
    codeInput.addEventListener('input', () => {
        const digits = codeInput.value.replace(/[^0-9]/g, '').slice(0, 6);
        if (digits !== codeInput.value)
            codeInput.value = digits;
    });
    fileInput.addEventListener('change', () => {
        addFiles(Array.from(fileInput.files));
        fileInput.value = '';
    });
    refreshButton.addEventListener('click', loadOffered);

    // A file dropped beside the zone would make the browser open it and leave the page.
    for (const kind of ['dragover', 'drop']) {
        document.addEventListener(kind, (event) => event.preventDefault());
    }
    dropZone.addEventListener('dragover', (event) => {
        event.preventDefault();
        dropZone.classList.add('over');
    });
    dropZone.addEventListener('dragleave', () => dropZone.classList.remove('over'));
    dropZone.addEventListener('drop', (event) => {
        event.preventDefault();
        dropZone.classList.remove('over');
        addFiles(Array.from(event.dataTransfer.files));
    });

    show('starting');
    start();
})();

// Drives the agent-server engine with the official MCP TypeScript client over
// stdio, the way Claude Code and other clients reach `zemnorvo mcp`.
// Usage: node mcp_sdk_e2e.mjs <server executable>
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { test } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { McpError } from '@modelcontextprotocol/sdk/types.js';

const server = process.argv[2];
assert.ok(server, 'usage: node mcp_sdk_e2e.mjs <server executable>');

async function connect() {
  const transport = new StdioClientTransport({ command: server, args: [], stderr: 'pipe' });
  const client = new Client({ name: 'zemnorvo-e2e', version: '1.0.0' });
  const errors = [];
  client.onerror = (e) => errors.push(e);
  await client.connect(transport);
  // The transport keeps its child private; the test needs it for raw writes
  // and the exit status.
  const child = transport._process;
  assert.ok(child, 'the transport started no process');
  return { client, transport, child, errors };
}

function text(result) {
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, 'text');
  return result.content[0].text;
}

// A failed assertion must not leave the server running, or the test runner
// waits for it forever.
async function withChild(child, body) {
  try {
    await body();
  } finally {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
  }
}

test('the SDK client initializes, lists and calls tools, and the server exits 0', async () => {
  const { client, child, errors } = await connect();
  await withChild(child, async () => {
    assert.equal(client.getServerVersion().name, 'zemra-norvo-test');
    assert.equal(client.getInstructions(), 'Test tools only.');
    assert.deepEqual(client.getServerCapabilities().tools, { listChanged: false });

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), ['echo', 'fail', 'inspect', 'slow']);
    const echo = tools.find((t) => t.name === 'echo');
    assert.deepEqual(echo.inputSchema.required, ['text']);
    assert.equal(echo.inputSchema.additionalProperties, false);

    assert.equal(text(await client.callTool({ name: 'echo', arguments: { text: 'hi', times: 2 } })), 'hihi');

    const failed = await client.callTool({ name: 'fail', arguments: { kind: 'tool_error' } });
    assert.equal(failed.isError, true);
    assert.equal(text(failed), 'the disk is not mounted');

    const badArgs = await client.callTool({ name: 'echo', arguments: { text: 'hi', times: 9 } });
    assert.equal(badArgs.isError, true);
    assert.match(text(badArgs), /"times"/);

    const structured = await client.callTool({ name: 'inspect', arguments: { pid: 4242, tags: ['a'] } });
    assert.deepEqual(structured.structuredContent, { pid: 4242, tags: ['a'] });

    await assert.rejects(client.callTool({ name: 'no_such_tool', arguments: {} }), (e) => {
      assert.ok(e instanceof McpError);
      assert.equal(e.code, -32602);
      return true;
  });

  const progress = [];
  const slow = await client.callTool({ name: 'slow', arguments: { steps: 3, step_ms: 10 } }, undefined, {
    onprogress: (p) => progress.push(p),
  });
  assert.deepEqual(slow.structuredContent, { steps: 3 });
  assert.deepEqual(progress.map((p) => p.progress), [0, 1, 2]);
  assert.ok(progress.every((p) => p.total === 3));

  // A long call does not hold up a ping.
  const long = client.callTool({ name: 'slow', arguments: { steps: 1, step_ms: 1500 } });
  const pingStart = Date.now();
  await client.ping();
  assert.ok(Date.now() - pingStart < 1000, 'ping waited for the running tool');
  assert.deepEqual((await long).structuredContent, { steps: 1 });

  // Cancelling sends notifications/cancelled; the server stops the tool.
  const abort = new AbortController();
  const cancelled = client.callTool({ name: 'slow', arguments: { steps: 1, step_ms: 60000 } }, undefined, {
    signal: abort.signal,
  });
  setTimeout(() => abort.abort('changed my mind'), 200);
  await assert.rejects(cancelled);

  // Raw bytes that are no MCP message: the server answers with an error and goes on.
  child.stdin.write('this is not json\n');
  child.stdin.write(Buffer.from([0xff, 0xfe, 0x7b, 0x0a]));
  child.stdin.write('[{"jsonrpc":"2.0","id":99,"method":"ping"}]\n');
  await client.ping();
  assert.equal(text(await client.callTool({ name: 'echo', arguments: { text: 'still here' } })), 'still here');

  const exited = once(child, 'exit');
  const closeStart = Date.now();
  await client.close();
  const [code, signal] = child.exitCode !== null ? [child.exitCode, child.signalCode] : await exited;
  assert.equal(signal, null);
  assert.equal(code, 0);
  // The SDK escalates to SIGTERM after 2 s; exiting on end of input is quicker.
  assert.ok(Date.now() - closeStart < 1900, 'the server did not exit on end of input');
  // The error replies to the raw lines have id null, which the client reports
  // as unexpected messages; nothing else may have gone wrong.
  for (const e of errors) assert.doesNotMatch(String(e), /Connection closed|timed out/);
  });
});

test('raw stdio: every output line is JSON-RPC and SIGINT during a long call exits 0', async () => {
  const child = spawn(server, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  await withChild(child, async () => {
    const lines = [];
    let buffered = '';
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (chunk) => {
      buffered += chunk;
      let at;
      while ((at = buffered.indexOf('\n')) >= 0) {
        lines.push(buffered.slice(0, at));
        buffered = buffered.slice(at + 1);
      }
  });
  const waitFor = async (predicate) => {
    const deadline = Date.now() + 5000;
    while (Date.now() < deadline) {
      const found = lines.map((l) => JSON.parse(l)).find(predicate);
      if (found) return found;
      await new Promise((r) => setTimeout(r, 10));
    }
    assert.fail('no matching message from the server');
  };

  child.stdin.write(
    '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{}}}\n',
  );
  const init = await waitFor((m) => m.id === 1);
  assert.equal(init.result.protocolVersion, '2024-11-05');
  child.stdin.write('{"jsonrpc":"2.0","method":"notifications/initialized"}\n');
  child.stdin.write('{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"slow","arguments":{"steps":1,"step_ms":60000}}}\n');
  child.stdin.write('{"jsonrpc":"2.0","id":3,"method":"ping"}\n');
  await waitFor((m) => m.id === 3);
  child.stdin.write('{"jsonrpc":"1.0","id":4,"method":"ping"}\n');
  const refused = await waitFor((m) => m.id === 4);
  assert.equal(refused.error.code, -32600);

  const exited = once(child, 'exit');
  const start = Date.now();
  child.kill('SIGINT');
  const [code, signal] = await exited;
  assert.equal(signal, null);
  assert.equal(code, 0);
  assert.ok(Date.now() - start < 2000, 'SIGINT did not end the server promptly');
  for (const line of lines) assert.equal(JSON.parse(line).jsonrpc, '2.0');
  // The running call was cancelled, so it got no answer.
  assert.ok(!lines.some((l) => JSON.parse(l).id === 2));
  });
});

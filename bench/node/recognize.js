// What an application would do instead of running the helper: recognise in
// its own Node process with the runtime's Node binding (sherpa-onnx-node).
// Same model, configuration, audio and blocks as a stream-mode session:
// 100 ms blocks, decode while ready and read the result after every block,
// then 0.8 s of zeros, input finished, a last decode and the final result.
//
//   node recognize.js MODEL_DIR AUDIO_F32 THREADS
//
// Loads the recogniser, prints "ready", then runs one session for every line
// read from standard input and answers each with a line
// "{seconds} {final transcript}". Ends at the end of its input.
'use strict';

const fs = require('fs');
const path = require('path');
const readline = require('readline');

let sherpa;
try {
  sherpa = require('sherpa-onnx-node');
} catch (e) {
  process.stdout.write('unavailable ' + String(e.message).split('\n')[0] + '\n');
  process.exit(0);
}

const [modelDir, audioPath, threads] = process.argv.slice(2);
const raw = fs.readFileSync(audioPath);
const samples = new Float32Array(raw.buffer, raw.byteOffset, Math.floor(raw.length / 4));

const recognizer = new sherpa.OnlineRecognizer({
  featConfig: {sampleRate: 16000, featureDim: 80},
  modelConfig: {
    transducer: {
      encoder: path.join(modelDir, 'encoder.int8.onnx'),
      decoder: path.join(modelDir, 'decoder.int8.onnx'),
      joiner: path.join(modelDir, 'joiner.int8.onnx'),
    },
    tokens: path.join(modelDir, 'tokens.txt'),
    numThreads: Number(threads),
    provider: 'cpu',
    debug: 0,
  },
  decodingMethod: 'greedy_search',
  maxActivePaths: 0,
  enableEndpoint: 0,
});

const kBlock = 1600;
const zeros = new Float32Array(12800);

function session() {
  const start = process.hrtime.bigint();
  const stream = recognizer.createStream();
  let last = '';
  for (let at = 0; at < samples.length; at += kBlock) {
    stream.acceptWaveform({samples: samples.subarray(at, at + kBlock), sampleRate: 16000});
    while (recognizer.isReady(stream)) recognizer.decode(stream);
    const text = recognizer.getResult(stream).text.trim();
    if (text !== last) last = text;
  }
  stream.acceptWaveform({samples: zeros, sampleRate: 16000});
  stream.inputFinished();
  while (recognizer.isReady(stream)) recognizer.decode(stream);
  const final = recognizer.getResult(stream).text.trim();
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  return [seconds, final];
}

process.stdout.write('ready\n');
const lines = readline.createInterface({input: process.stdin});
lines.on('line', () => {
  const [seconds, final] = session();
  process.stdout.write(seconds.toFixed(9) + ' ' + final + '\n');
});

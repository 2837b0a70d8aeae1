// Every text the page itself shows, in each of its languages. A value is a
// string, or a function of the numbers and names it shows. The converter's
// own reasons stay in its words and follow a lead from here; a reason that
// comes with a kind name may find its own message under failures.
'use strict';
const pageWords = (() => {
  const enBytes = (n) => `${n.toLocaleString('en-US')} bytes`;
  const jaBytes = (n) => `${n.toLocaleString('ja-JP')} バイト`;
  return {
    en: {
      language: 'Language:',
      heading0: 'Drop DLS files',
      heading1: 'on this page',
      zoneLead: 'Drop DLS banks on this page to get their cue-point documents, or drop documents (.mml) to check ' +
        'them and get their banks back. Or ',
      chooseFiles: 'choose files',
      zoneTail: '.',
      local: 'Everything runs in this page; no file leaves the computer.',
      stateLead: 'The block sort\'s state carries over from file to file and drop to drop while this page stays ' +
        'open, as in the window: ',
      stateNone: 'no bank converted on it yet',
      stateSome: (n) => `${n} bank${n === 1 ? '' : 's'} converted on it so far`,
      fresh: 'Start afresh',
      fatal: (why) => `The converter stopped: ${why || 'unknown error'}. Reload the page to start again.`,
      waiting: 'waiting',
      skipped: 'skipped: neither a bank (".dls" in its name) nor a document (.mml)',
      converting: 'converting',
      checking: 'checking',
      bankDone: (from, to) => `bank ${enBytes(from)} → document ${enBytes(to)}`,
      documentDone: (from, to) => `document ${enBytes(from)}, checked → bank ${enBytes(to)}`,
      chosenPart: (kept, all, whole) => ` (${kept} of ${all} instruments, from a bank of ${enBytes(whole)})`,
      chosenTitle: (name, list) => `${name}, instruments ${list}`,
      bankFailed: 'not converted: ',
      documentFailed: 'not checked: ',
      stateUnknown: 'An earlier bank has changed or is gone since it was converted, so the block sort\'s state ' +
        'that this bank needs is unknown. Press "Start afresh" and drop the banks again in their order.',
      chooseInstruments: 'choose instruments…',
      readingInstruments: 'reading the bank\'s instruments…',
      noInstruments: 'its instruments cannot be read: not a sound DLS bank',
      columns: ['', '#', 'name', 'patch', 'wave bytes'],
      patch: (drums, msb, lsb, program) => `${drums ? 'drums' : 'melodic'} ${msb}/${lsb} program ${program}`,
      noName: '(no name)',
      instrumentLabel: (n) => `instrument ${n}`,
      number: (n) => n.toLocaleString('en-US'),
      waveTotal: (n) => `${enBytes(n)} of wave data in all, each wave counted once`,
      convertChosen: 'Convert the chosen instruments',
      chooseOne: 'choose one instrument at least',
      failures: {},
    },
    ja: {
      language: '表示言語:',
      // The window's own two lines.
      heading0: 'DLSファイルをドロップして',
      heading1: '下さい',
      zoneLead: 'DLS バンクをこのページにドロップすると、キューポイント文書に変換します。文書（.mml）をドロップすると、' +
        '検査してバンクに戻します。',
      chooseFiles: 'ファイルを選ぶ',
      zoneTail: 'こともできます。',
      local: 'すべての処理はこのページの中で行われ、ファイルがこのコンピューターの外へ送られることはありません。',
      stateLead: 'このページを開いている間、ブロックソートの状態はウィンドウ版と同じく、ファイルからファイルへ、' +
        'ドロップからドロップへと引き継がれます：',
      stateNone: 'まだバンクを変換していません',
      stateSome: (n) => `これまでに ${n} 個のバンクを変換しました`,
      fresh: '初期状態に戻す',
      fatal: (why) => `変換処理が停止しました（${why || '原因不明のエラー'}）。ページを再読み込みしてやり直してください。`,
      waiting: '待機中',
      skipped: 'スキップしました：バンク（名前に「.dls」を含むもの）でも文書（.mml）でもありません',
      converting: '変換中',
      checking: '検査中',
      bankDone: (from, to) => `バンク ${jaBytes(from)} → 文書 ${jaBytes(to)}`,
      documentDone: (from, to) => `文書 ${jaBytes(from)}、検査済み → バンク ${jaBytes(to)}`,
      chosenPart: (kept, all, whole) => `（全 ${all} 音色中 ${kept} 音色、元のバンクは ${jaBytes(whole)}）`,
      chosenTitle: (name, list) => `${name}、音色 ${list}`,
      bankFailed: '変換できませんでした：',
      documentFailed: '検査で問題が見つかりました：',
      stateUnknown: '以前に変換したバンクが変更されたか見つからないため、このバンクに必要なブロックソートの状態が' +
        '分かりません。「初期状態に戻す」を押してから、バンクを順番にドロップし直してください。',
      chooseInstruments: '音色を選ぶ…',
      readingInstruments: 'バンクの音色を読み込んでいます…',
      noInstruments: '音色を読み取れません：正しい DLS バンクではありません',
      columns: ['', '番号', '名前', 'パッチ', '波形バイト数'],
      patch: (drums, msb, lsb, program) => `${drums ? 'ドラム' : 'メロディ'} ${msb}/${lsb} プログラム ${program}`,
      noName: '（名前なし）',
      instrumentLabel: (n) => `音色 ${n}`,
      number: (n) => n.toLocaleString('ja-JP'),
      waveTotal: (n) => `波形データは合計 ${jaBytes(n)}（同じ波形は一度だけ数えています）`,
      convertChosen: '選んだ音色を変換',
      chooseOne: '音色を一つ以上選んでください',
      failures: {},
    },
  };
})();

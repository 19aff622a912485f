
// eslint-disable-next-line no-unused-vars
function init(meta) {
    return new WindowExporter(`${meta.path}/allowed-callers`);
}

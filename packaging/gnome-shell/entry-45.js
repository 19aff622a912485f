
export default class IdlewatchExtension extends Extension {
    enable() {
        this._exporter = new WindowExporter(`${this.path}/allowed-callers`);
        this._exporter.enable();
    }

    disable() {
        this._exporter.disable();
        this._exporter = null;
    }
}

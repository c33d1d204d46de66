// The system view: memory, CPU, volumes and the processes using the most
// memory, with "terminate" behind a confirmation dialog.
import { bytes, el, fill, percent, toast } from './format.js';

export class SystemView {
  constructor(app) {
    this.app = app;
    this.host = document.getElementById('system-host');
    this.processes = document.querySelector('#system-processes tbody');
    this.volumes = document.querySelector('#system-volumes tbody');
    this.filter = document.getElementById('system-filter');
    this.dialog = document.getElementById('terminate-dialog');
    this.refreshButton = document.getElementById('system-refresh');
    this.snapshot = null;
    this.refreshButton.addEventListener('click', () => this.refresh());
    this.filter.addEventListener('input', () => this.showProcesses());
  }

  async refresh() {
    this.refreshButton.disabled = true;
    try {
      this.snapshot = await this.app.engine.request('system');
      this.show();
    } catch (error) {
      toast(`System: ${error.message}`);
    } finally {
      this.refreshButton.disabled = false;
    }
  }

  show() {
    const s = this.snapshot;
    this.host.textContent = `${s.hostname ?? 'unknown host'} · ${s.osVersion ?? 'unknown system'}`;
    fill(document.getElementById('system-memory'), s.totalMemory ? s.usedMemory / s.totalMemory : 0);
    document.getElementById('system-memory-text').textContent = `${bytes(s.usedMemory)} of ${bytes(s.totalMemory)} in use`;
    fill(document.getElementById('system-cpu'), (s.cpu ?? 0) / 100);
    document.getElementById('system-cpu-text').textContent = percent(s.cpu);
    this.volumes.replaceChildren(...s.disks.map((disk) => {
      const bar = el('div', { className: 'progress' }, el('div'));
      fill(bar, disk.total ? (disk.total - disk.free) / disk.total : 0);
      return el('tr', {}, el('td', { className: 'path' }, disk.mount), el('td', { className: 'num' }, bytes(disk.total)),
        el('td', { className: 'num' }, bytes(disk.free)), el('td', {}, bar));
    }));
    this.showProcesses();
  }

  showProcesses() {
    if (!this.snapshot) return;
    const wanted = this.filter.value.trim().toLowerCase();
    const shown = this.snapshot.processes.filter((p) => !wanted
      || p.name.toLowerCase().includes(wanted) || p.command.toLowerCase().includes(wanted) || String(p.pid) === wanted);
    this.processes.replaceChildren(...shown.map((p) => el('tr', { dataset: { pid: String(p.pid) } },
      el('td', { className: 'num' }, String(p.pid)),
      el('td', {}, p.name),
      el('td', { className: 'num' }, bytes(p.memoryBytes)),
      el('td', { className: 'num' }, percent(p.cpuPercent)),
      el('td', { className: 'path' }, p.command),
      el('td', {}, p.isSystem
        ? el('span', { className: 'muted', title: 'System processes and other users\' processes are protected' }, 'protected')
        : el('button', { type: 'button', className: 'danger', onclick: () => this.confirmTerminate(p) }, 'End…')))));
  }

  confirmTerminate(process) {
    document.getElementById('terminate-name').textContent = process.name;
    document.getElementById('terminate-pid').textContent = String(process.pid);
    document.getElementById('terminate-force').checked = false;
    this.dialog.returnValue = '';
    this.dialog.addEventListener('close', () => {
      if (this.dialog.returnValue === 'confirm') this.terminate(process, document.getElementById('terminate-force').checked);
    }, { once: true });
    this.dialog.showModal();
  }

  async terminate(process, force) {
    toast(`Ending ${process.name} (${process.pid})…`);
    try {
      await this.app.engine.request('terminate', { pid: process.pid, force });
      toast(`${process.name} (${process.pid}) has ended.`);
    } catch (error) {
      toast(`${process.name} (${process.pid}): ${error.message}`);
    }
    await this.refresh();
  }
}

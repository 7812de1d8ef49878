// The options page: every change is saved at once to storage.local.
"use strict";

const fields = {
  captureEnabled: document.getElementById("captureEnabled"),
  minimumBytes: document.getElementById("minimumBytes"),
  excludedHosts: document.getElementById("excludedHosts"),
  passCookies: document.getElementById("passCookies"),
};
const saved = document.getElementById("saved");

function Show(settings) {
  fields.captureEnabled.checked = settings.captureEnabled;
  fields.minimumBytes.value = String(settings.minimumBytes);
  fields.excludedHosts.value = settings.excludedHosts.join("\n");
  fields.passCookies.checked = settings.passCookies;
}

async function Save() {
  await SaveSettings({
    captureEnabled: fields.captureEnabled.checked,
    minimumBytes: Math.floor(Number(fields.minimumBytes.value)),
    excludedHosts: ParseHostList(fields.excludedHosts.value),
    passCookies: fields.passCookies.checked,
  });
  saved.hidden = false;
}

LoadSettings().then((settings) => {
  Show(settings);
  for (const field of Object.values(fields)) field.addEventListener("change", Save);
});

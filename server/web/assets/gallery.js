// The little the gallery does with script: times in the browser's time zone, the day
// filter's zone, the flip-book's playing and scrubbing, and the live page's updates. Every
// page works without it.
"use strict";

function localText(date, timeOnly) {
  const options = timeOnly
    ? { hour: "2-digit", minute: "2-digit", second: "2-digit" }
    : { year: "numeric", month: "2-digit", day: "2-digit", hour: "2-digit", minute: "2-digit",
        second: "2-digit" };
  return date.toLocaleString(undefined, options);
}

function showLocalTime(element) {
  const date = new Date(element.getAttribute("datetime"));
  if (!isNaN(date)) element.textContent = localText(date, element.dataset.show === "time");
}

// The day filter sends the browser's offset from UTC at the day's start and end (minutes
// behind UTC, as getTimezoneOffset gives it), so the day is the owner's own.
function setUpDayFilter() {
  const form = document.getElementById("day-filter");
  if (!form) return;
  form.addEventListener("submit", () => {
    const day = form.elements.day.value;
    if (!/^\d{4}-\d{2}-\d{2}$/.test(day)) return;
    const [y, m, d] = day.split("-").map(Number);
    const start = new Date(y, m - 1, d).getTimezoneOffset();
    const end = new Date(y, m - 1, d + 1).getTimezoneOffset();
    form.elements.tz.value = start === end ? String(start) : start + "," + end;
  });
}

// The flip-book: the strip's snapshots shown in turn at the pace they were captured.
function setUpPlayer() {
  const player = document.getElementById("player");
  if (!player) return;
  const links = Array.from(document.querySelectorAll(".strip a"));
  if (links.length === 0) return;
  const frames = links.map((a) => ({ href: a.getAttribute("href"), time: new Date(a.dataset.time) }));
  const image = document.getElementById("frame");
  const full = document.getElementById("full");
  const position = document.getElementById("position");
  const time = document.getElementById("frame-time");
  const play = document.getElementById("play");
  const scrub = document.getElementById("scrub");
  const total = position.textContent.split("/")[1].trim();
  const first = Number(position.textContent.split("/")[0]);
  scrub.max = String(frames.length - 1);
  player.querySelector(".controls").hidden = false;
  // The pictures are fetched ahead, so playing never waits for the network.
  frames.forEach((frame) => { const preload = new Image(); preload.src = frame.href; });

  let index = 0;
  let timer = null;
  function show(i) {
    index = Math.max(0, Math.min(frames.length - 1, i));
    image.src = frames[index].href;
    image.alt = "Snapshot " + (first + index) + " of " + total;
    full.href = frames[index].href;
    position.textContent = first + index + " / " + total;
    time.setAttribute("datetime", frames[index].time.toISOString());
    showLocalTime(time);
    scrub.value = String(index);
    links.forEach((a, j) => a.setAttribute("aria-current", j === index ? "true" : "false"));
  }
  function stop() {
    clearTimeout(timer);
    timer = null;
    play.textContent = "Play";
  }
  function step() {
    if (index >= frames.length - 1) return stop();
    const gap = frames[index + 1].time - frames[index].time;
    // The capture pace, within reason: a long pause inside an event is cut to two seconds.
    timer = setTimeout(() => { show(index + 1); step(); }, Math.max(20, Math.min(2000, gap || 100)));
  }
  play.addEventListener("click", () => {
    if (timer) return stop();
    if (index >= frames.length - 1) show(0);
    play.textContent = "Pause";
    step();
  });
  scrub.addEventListener("input", () => { stop(); show(Number(scrub.value)); });
  document.addEventListener("keydown", (e) => {
    if (e.target instanceof HTMLInputElement && e.target !== scrub) return;
    if (e.key === "ArrowRight" || e.key === "ArrowLeft") {
      e.preventDefault();
      stop();
      show(index + (e.key === "ArrowRight" ? 1 : -1));
    } else if (e.key === " " && e.target === document.body) {
      e.preventDefault();
      play.click();
    }
  });
  show(0);
}

// The live page follows the account's newest snapshot through Server-Sent Events.
function setUpLive() {
  const image = document.getElementById("live");
  if (!image || !window.EventSource) return;
  const caption = document.getElementById("live-caption");
  const time = document.getElementById("live-time");
  const empty = document.getElementById("live-empty");
  const source = new EventSource(image.dataset.stream);
  source.addEventListener("snapshot", (e) => {
    const news = JSON.parse(e.data);
    if (!news.snapshot) return;
    image.src = "/snapshots/" + news.snapshot;
    image.hidden = false;
    if (empty) empty.hidden = true;
    caption.textContent = news.caption;
    time.setAttribute("datetime", news.time);
    showLocalTime(time);
  });
}

document.addEventListener("DOMContentLoaded", () => {
  document.querySelectorAll("time[datetime]").forEach(showLocalTime);
  setUpDayFilter();
  setUpPlayer();
  setUpLive();
});

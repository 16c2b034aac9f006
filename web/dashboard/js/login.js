// The account typed into the login form. It is kept for this tab only
// (sessionStorage), never in localStorage or the address.

"use strict";

(function (dashboard) {
  const KEY = "rxb540-dashboard-login";

  function savedLogin() {
    try {
      const saved = JSON.parse(sessionStorage.getItem(KEY) || "null");
      if (saved && typeof saved.username === "string" && typeof saved.password === "string") return saved;
    } catch {
      // Unreadable: ask again.
    }
    return null;
  }

  function saveLogin(login) {
    sessionStorage.setItem(KEY, JSON.stringify(login));
  }

  function forgetLogin() {
    sessionStorage.removeItem(KEY);
  }

  // Shows the form with message; onLogin gets {username, password} once it is
  // submitted.
  function askLogin(form, message, onLogin) {
    const note = form.querySelector(".login-message");
    note.textContent = message;
    form.hidden = false;
    form.elements.username.focus();
    form.onsubmit = (event) => {
      event.preventDefault();
      const login = { username: form.elements.username.value, password: form.elements.password.value };
      form.elements.password.value = "";
      form.hidden = true;
      onLogin(login);
    };
  }

  dashboard.login = { askLogin, forgetLogin, saveLogin, savedLogin };
})((window.rxb540Dashboard = window.rxb540Dashboard || {}));

// The login exchange: checks a user name and a password with the alarm server.
#pragma once

// Sends the user name, the password (each ending in a line feed) and "QUIT\n", one reply
// after each. Gives a text whose first three characters carry the outcome ("300" refused).
const char* LoginExchange(const char* userName, const char* password);

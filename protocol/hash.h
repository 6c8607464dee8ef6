// Request authentication code: ties a request to the account's password
// digest and to the clock value sent with it.
#pragma once

// 16-bit wrap-around sum of md5str(sHash + decimal iTime) read as 16
// big-endian words of character codes; 0..65535.
int getAuthCode(const char* sHash, int iTime);

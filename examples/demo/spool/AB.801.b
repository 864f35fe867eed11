Gentile cliente,
Le ricordiamo l'appuntamento di lunedì alle ore 10.

Cordiali saluti
Ufficio commerciale

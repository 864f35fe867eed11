Buongiorno,
in allegato il nuovo listino prezzi, valido dal 1 gennaio.
.///###Dcommerciale@example.com

Cordiali saluti

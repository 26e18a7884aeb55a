;;; emms_session.el --- EMMS plays a playlist through wendrop, in batch.
;;
;; emacs --batch -Q -L EMMS-DIR -l emms_session.el LOG TRACK...
;;
;; EMMS's stock remote backend starts the program named by $WENDROP as it
;; would start mpg321; nothing else of it is configured but that its regex
;; and playable check take .flac files. Each track that EMMS sees start and
;; finish is noted in LOG ("started NAME", "finished NAME"); then the player
;; is sent QUIT and its end is noted ("exit STATUS CODE").

;; EMMS's own minimal setup, as its manual gives it, with the autoloads
;; that a site installation provides.
(require 'emms-auto)
(require 'emms-setup)
(emms-minimalistic)
(require 'emms-player-mpg321-remote)

(defvar session-log (pop command-line-args-left))
(defvar session-tracks command-line-args-left)
(setq command-line-args-left nil)
(defvar session-finished 0)
(defconst session-seconds 20 "How long the playlist may take.")

(setq emms-player-mpg321-remote-command (getenv "WENDROP"))
(emms-player-set emms-player-mpg321-remote 'regex "\\.flac\\'")
(emms-player-set emms-player-mpg321-remote 'playablep
		 (lambda (track)
		   (and (eq (emms-track-type track) 'file)
			(string-match "\\.flac\\'" (emms-track-name track)))))
(setq emms-player-list '(emms-player-mpg321-remote))

(defun session-note (text)
  (write-region (concat text "\n") nil session-log t 'silent))

(defun session-note-track (event)
  (let ((track (emms-playlist-current-selected-track)))
    (session-note (format "%s %s" event (file-name-nondirectory (emms-track-name track))))))

(add-hook 'emms-player-started-hook (lambda () (session-note-track "started")))
(add-hook 'emms-player-finished-hook
	  (lambda ()
	    (session-note-track "finished")
	    (setq session-finished (1+ session-finished))))

(defun session-wait (done seconds)
  "Takes in the player's output until DONE gives non-nil or SECONDS pass."
  (let ((deadline (+ (float-time) seconds)))
    (while (and (not (funcall done)) (< (float-time) deadline))
      (accept-process-output nil 0.05))))

(dolist (track session-tracks)
  (emms-add-file track))
(emms-start)
(session-wait (lambda () (>= session-finished (length session-tracks))) session-seconds)

(let ((player (emms-player-mpg321-remote-process)))
  (if (not player)
      (session-note "no player")
    (process-send-string player "QUIT\n")
    (session-wait (lambda () (not (process-live-p player))) 5)
    (session-note (format "exit %s %s" (process-status player) (process-exit-status player)))))
(kill-emacs 0)
